// Dialog units: control positions given relative to the dialog's font, so
// the layout keeps its proportions whatever font the desktop uses.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace palisim {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  // x and widths in quarters of the average character width, y and heights
  // in eighths of the character height.
  QRect rect(int x, int y, int width, int height) const;
  QSize size(int width, int height) const;

 private:
  int base_x_;  // average character width in pixels
  int base_y_;  // character height in pixels
};

}  // namespace palisim
