// The program's only window: choose the interface and port, start and stop
// the server, and watch its status, connection count and requests served.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include "app/options.h"
#include "app/server_thread.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace palisim {

// Shows a modal message box; tests pass one that records the text instead.
using MessageFunction =
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& text)>;
void show_message_box(QWidget* parent, QMessageBox::Icon icon, const QString& text);

class ControlWindow : public QDialog {
  Q_OBJECT

 public:
  // Loads the interface and port from options.config_path (saying so in a
  // message box when it cannot), then lets the command line's values win.
  explicit ControlWindow(const ProgramOptions& options,
                         MessageFunction show_message = show_message_box,
                         QWidget* parent = nullptr);
  ~ControlWindow() override;

  // Shows whether the server thread runs, how many clients it serves and
  // how many requests it has answered.
  void update_status();

  // The requests of every server run of this window, by command.
  const CommandStats& stats() const { return server_.stats(); }
  // The next connection reads the configuration file afresh.
  void reread_configuration() { server_.request_reread(); }

  // Every way of closing ends here: "Finished" first checks the port, then
  // the server is stopped before the window goes.
  void done(int result) override;

 private:
  void create_controls();
  void start_server();
  void stop_server();
  // The port box as a port, or the range message and false.
  bool read_port(uint16_t& port);

  MessageFunction show_message_;
  std::string config_path_;  // handed to the server for every connection's settings
  ServerThread server_;
  QTimer status_timer_;
  QRadioButton* any_ = nullptr;
  QRadioButton* local_only_ = nullptr;
  QLineEdit* port_ = nullptr;
  QLineEdit* status_ = nullptr;
  QLineEdit* connections_ = nullptr;
  QLineEdit* requests_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* finished_ = nullptr;
};

}  // namespace palisim
