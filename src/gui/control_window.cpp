#include "gui/control_window.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "config/config.h"
#include "gui/dialog_units.h"
#include "gui/dialog_values.h"
#include "server/diag.h"

// The icon lives in a static library, so its resource is registered by hand.
static void register_window_resources() {
  Q_INIT_RESOURCE(palisim);
}

namespace palisim {

namespace {

const char kNoConfigurationText[] =
    "There is no atalla.conf file.  This \r\nwill work, but will make for a very boring \r\n"
    "experience as there will be no MFK.";
const char kCouldNotOpenPortText[] = "Could not open TCP port";
const char kPortRangeText[] = "Please enter an integer between 1 and 65535.";
constexpr int kStatusIntervalMs = 2000;
const char kTitle[] = "Palisim002";

// Which way a control grows when its text needs more room than its place.
enum class Grow { kLeft, kRight };

// Puts a control at its place; a wider desktop font widens it, keeping the
// edge that lines up with its neighbours.
void place(QWidget* control, const QRect& where, Grow grow) {
  QRect rect = where;
  int needed = control->sizeHint().width();
  if (needed > rect.width()) {
    if (grow == Grow::kLeft) {
      rect.setLeft(std::max(0, rect.right() + 1 - needed));
    } else {
      rect.setWidth(needed);
    }
  }
  control->setGeometry(rect);
}

void add_label(QWidget* parent, const char* text, const QRect& where) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  place(label, where, Grow::kLeft);
}

QLineEdit* add_read_only_box(QWidget* parent, const char* name, const QRect& where) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setReadOnly(true);
  // Greyed like a read-only box on other desktops, so nobody tries to type.
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  box->setPalette(palette);
  box->setGeometry(where);
  return box;
}

QPushButton* add_button(QWidget* parent, const char* name, const char* text, const QRect& where) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(where);
  return button;
}

}  // namespace

void show_message_box(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromLatin1(kTitle), text, QMessageBox::Ok, parent);
  box.exec();
}

ControlWindow::ControlWindow(const ProgramOptions& options, MessageFunction show_message,
                             QWidget* parent)
    : QDialog(parent), show_message_(std::move(show_message)), config_path_(options.config_path) {
  DialogValues values;
  bool loaded = load_dialog_values(values, config_path_.c_str());
  // The file's messages are printed before the box waits for the operator.
  std::fflush(configuration_output());
  diag_flush();
  if (!loaded) {
    show_message_(nullptr, QMessageBox::Information, QString::fromLatin1(kNoConfigurationText));
  }
  apply_program_options(values, options);
  server_.set_trace(options.trace.value_or(values.trace ? TraceMode::kMasked : TraceMode::kOff));
  server_.set_inject_rules(options.inject);

  register_window_resources();
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowIcon(QIcon(QStringLiteral(":/palisim.png")));
  create_controls();

  (values.local_only ? local_only_ : any_)->setChecked(true);
  port_->setText(QString::number(values.port));

  connect(start_, &QPushButton::clicked, this, [this] { start_server(); });
  connect(stop_, &QPushButton::clicked, this, [this] { stop_server(); });
  connect(finished_, &QPushButton::clicked, this, &QDialog::accept);
  connect(&status_timer_, &QTimer::timeout, this, [this] { update_status(); });
  status_timer_.start(kStatusIntervalMs);
  update_status();
}

ControlWindow::~ControlWindow() {
  server_.stop();
}

void ControlWindow::create_controls() {
  DialogUnits units(font());
  add_label(this, "Connections from:", units.rect(7, 17, 58, 8));
  any_ = new QRadioButton(QStringLiteral("Any"), this);
  any_->setObjectName(QStringLiteral("any"));
  place(any_, units.rect(71, 16, 28, 10), Grow::kRight);
  local_only_ = new QRadioButton(QStringLiteral("Local Only"), this);
  local_only_->setObjectName(QStringLiteral("local_only"));
  QRect local_rect = units.rect(100, 16, 49, 10);
  local_rect.moveLeft(std::max(local_rect.left(), any_->geometry().right() + 1));
  place(local_only_, local_rect, Grow::kRight);

  add_label(this, "Port:", units.rect(49, 36, 16, 8));
  port_ = new QLineEdit(this);
  port_->setObjectName(QStringLiteral("port"));
  port_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), port_));
  port_->setGeometry(units.rect(78, 33, 40, 14));

  add_label(this, "Server Status:", units.rect(19, 57, 46, 8));
  status_ = add_read_only_box(this, "status", units.rect(78, 54, 40, 14));
  add_label(this, "Connections:", units.rect(23, 74, 42, 8));
  connections_ = add_read_only_box(this, "connections", units.rect(78, 71, 40, 14));
  add_label(this, "Requests served:", units.rect(7, 91, 58, 8));
  requests_ = add_read_only_box(this, "requests", units.rect(78, 88, 60, 14));

  start_ = add_button(this, "start", "Start", units.rect(15, 110, 50, 14));
  stop_ = add_button(this, "stop", "Stop", units.rect(74, 110, 50, 14));
  finished_ = add_button(this, "finished", "Finished", units.rect(173, 7, 50, 14));
  finished_->setDefault(true);

  setFixedSize(units.size(230, 137));
}

void ControlWindow::update_status() {
  status_->setText(server_.running() ? QStringLiteral("Running") : QStringLiteral("Stopped"));
  connections_->setText(QString::number(static_cast<unsigned>(server_.connection_count())));
  requests_->setText(QString::number(static_cast<qulonglong>(server_.stats().requests())));
}

bool ControlWindow::read_port(uint16_t& port) {
  std::optional<uint16_t> value = parse_dialog_port(port_->text().toStdString());
  if (!value) {
    show_message_(this, QMessageBox::Warning, QString::fromLatin1(kPortRangeText));
    port_->setFocus();
    port_->selectAll();
    return false;
  }
  port = *value;
  return true;
}

void ControlWindow::start_server() {
  uint16_t port = 0;
  if (!server_.running() && read_port(port)) {
    server_.configure(local_only_->isChecked() ? "localhost" : "any", port, config_path_.c_str());
    if (!server_.start()) {
      show_message_(this, QMessageBox::NoIcon, QString::fromLatin1(kCouldNotOpenPortText));
    }
  }
  update_status();
}

void ControlWindow::stop_server() {
  // The wake-up ends the server at any moment, so this wait is short.
  server_.stop();
  update_status();
}

void ControlWindow::done(int result) {
  uint16_t port = 0;
  if (result == QDialog::Accepted && !read_port(port)) return;
  server_.stop();
  status_timer_.stop();
  QDialog::done(result);
}

}  // namespace palisim
