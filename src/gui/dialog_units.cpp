#include "gui/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace palisim {

namespace {

// value * base / divisor, rounded to the nearest pixel.
int scale(int value, int base, int divisor) {
  return (value * base + divisor / 2) / divisor;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics metrics(font);
  // The average over both alphabets, rounded, as dialog templates measure it.
  int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_x_ = (alphabet / 26 + 1) / 2;
  base_y_ = metrics.height();
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
  return QRect(scale(x, base_x_, 4), scale(y, base_y_, 8), scale(width, base_x_, 4),
               scale(height, base_y_, 8));
}

QSize DialogUnits::size(int width, int height) const {
  return QSize(scale(width, base_x_, 4), scale(height, base_y_, 8));
}

}  // namespace palisim
