// The control window driven through its controls, against the real server
// on loopback ports.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

#include "free_port.h"
#include "gui/control_window.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

// A client of the server, retried while the server is still setting up.
std::unique_ptr<TestClient> connect_client(int port) {
  for (int i = 0; i < 300; ++i) {
    auto client = std::make_unique<TestClient>(port);
    if (client->connected()) return client;
    QTest::qWait(10);
  }
  return nullptr;
}

bool echoes(TestClient& client) {
  return client.send_all("<00#ping#>\r") && client.read_replies(1) == "<00#000035#ping#>\r\n";
}

// Message boxes as the window would have shown them.
struct Messages {
  std::vector<std::pair<QMessageBox::Icon, QString>> seen;

  MessageFunction recorder() {
    return [this](QWidget*, QMessageBox::Icon icon, const QString& text) {
      seen.emplace_back(icon, text);
    };
  }
};

}  // namespace

class ControlWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    set_diag_quiet(true);
  }

  void shows_its_title_icon_labels_and_default_button() {
    Messages messages;
    ControlWindow window(options_for(config("port = 7123\n")), messages.recorder());
    QCOMPARE(window.windowTitle(), QString("Palisim002"));
    QVERIFY(!window.windowIcon().pixmap(32, 32).isNull());
    QStringList labels;
    for (QLabel* label : window.findChildren<QLabel*>())
      labels << label->text();
    labels.sort();
    QCOMPARE(labels, (QStringList{"Connections from:", "Connections:", "Port:", "Requests served:",
                                  "Server Status:"}));
    QPushButton* finished = window.findChild<QPushButton*>("finished");
    QVERIFY(finished);
    QCOMPARE(finished->text(), QString("Finished"));
    QVERIFY(finished->isDefault());
    QVERIFY(window.findChild<QLineEdit*>("status")->isReadOnly());
    QVERIFY(window.findChild<QLineEdit*>("connections")->isReadOnly());
    QVERIFY(window.findChild<QLineEdit*>("requests")->isReadOnly());
    QVERIFY(!window.findChild<QLineEdit*>("port")->isReadOnly());
  }

  // Every control inside the window, none on top of another, every text
  // fully visible, captions lined up against their boxes.
  void lays_out_controls_without_overlap() {
    Messages messages;
    ControlWindow window(options_for(config("port = 7123\n")), messages.recorder());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    std::vector<QWidget*> controls;
    for (QWidget* w : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (w->isVisible()) controls.push_back(w);
    }
    QCOMPARE(controls.size(), size_t{14});
    const QRect inside = window.rect();
    for (size_t i = 0; i < controls.size(); ++i) {
      const QRect r = controls[i]->geometry();
      QVERIFY2(inside.contains(r), qPrintable(controls[i]->objectName()));
      if (!qobject_cast<QLineEdit*>(controls[i])) {
        QVERIFY2(controls[i]->sizeHint().width() <= r.width(),
                 qPrintable(controls[i]->property("text").toString()));
      }
      for (size_t j = i + 1; j < controls.size(); ++j) {
        QVERIFY2(!r.intersects(controls[j]->geometry()),
                 qPrintable(controls[i]->property("text").toString() + " / " +
                            controls[j]->property("text").toString()));
      }
    }
    int box_left = window.findChild<QLineEdit*>("port")->geometry().left();
    for (QLabel* label : window.findChildren<QLabel*>()) {
      QVERIFY(label->geometry().right() < box_left);
      QCOMPARE(label->geometry().right(), window.findChildren<QLabel*>()[0]->geometry().right());
    }
    for (const char* name : {"status", "connections", "requests"})
      QCOMPARE(window.findChild<QLineEdit*>(name)->geometry().left(), box_left);
    QPushButton* start = window.findChild<QPushButton*>("start");
    QPushButton* stop = window.findChild<QPushButton*>("stop");
    QCOMPARE(start->geometry().top(), stop->geometry().top());
    QVERIFY(start->geometry().right() < stop->geometry().left());
    QVERIFY(window.width() > window.height());
  }

  void takes_initial_values_from_the_file_data() {
    QTest::addColumn<QString>("interface_name");
    QTest::addColumn<bool>("local_only");
    QTest::newRow("any") << "any" << false;
    QTest::newRow("ANY") << "ANY" << false;
    QTest::newRow("localhost") << "localhost" << true;
    QTest::newRow("LOCALHOST") << "LOCALHOST" << true;
    QTest::newRow("dotted address") << "10.1.2.3" << true;
  }
  void takes_initial_values_from_the_file() {
    QFETCH(QString, interface_name);
    QFETCH(bool, local_only);
    Messages messages;
    std::string path =
        config("interface = \"" + interface_name.toStdString() + "\"\nport = 7123\n");
    ControlWindow window(options_for(path), messages.recorder());
    QVERIFY(messages.seen.empty());
    QCOMPARE(window.findChild<QRadioButton*>("local_only")->isChecked(), local_only);
    QCOMPARE(window.findChild<QRadioButton*>("any")->isChecked(), !local_only);
    QCOMPARE(window.findChild<QLineEdit*>("port")->text(), QString("7123"));
    QCOMPARE(window.findChild<QLineEdit*>("status")->text(), QString("Stopped"));
    QCOMPARE(window.findChild<QLineEdit*>("connections")->text(), QString("0"));
  }

  void without_a_usable_file_says_so_and_uses_defaults_data() {
    QTest::addColumn<QString>("contents");  // empty: no file at all
    QTest::newRow("missing") << QString();
    QTest::newRow("port refused") << "interface = \"localhost\"\nport = 0\n";
    QTest::newRow("syntax error") << "interface = \"localhost\"\nport = = 80\n";
  }
  void without_a_usable_file_says_so_and_uses_defaults() {
    QFETCH(QString, contents);
    std::string path = contents.isEmpty() ? dir_.filePath("absent.conf").toStdString()
                                          : config(contents.toStdString());
    Messages messages;
    ControlWindow window(options_for(path), messages.recorder());
    QCOMPARE(messages.seen.size(), size_t{1});
    QCOMPARE(messages.seen[0].first, QMessageBox::Information);
    QCOMPARE(messages.seen[0].second,
             QString("There is no atalla.conf file.  This \r\nwill work, but will make for a very "
                     "boring \r\nexperience as there will be no MFK."));
    QCOMPARE(window.findChild<QLineEdit*>("port")->text(), QString("7000"));
    QVERIFY(window.findChild<QRadioButton*>("any")->isChecked());
    QCOMPARE(window.findChild<QLineEdit*>("status")->text(), QString("Stopped"));
  }

  void command_line_presets_the_values() {
    Messages messages;
    ProgramOptions options = options_for(config("interface = \"any\"\nport = 7123\n"));
    options.port = 7200;
    options.interface_name = "localhost";
    ControlWindow window(options, messages.recorder());
    QCOMPARE(window.findChild<QLineEdit*>("port")->text(), QString("7200"));
    QVERIFY(window.findChild<QRadioButton*>("local_only")->isChecked());

    ProgramOptions only_port = options_for(dir_.filePath("absent.conf").toStdString());
    only_port.port = 7201;
    ControlWindow defaults(only_port, messages.recorder());
    QCOMPARE(messages.seen.size(), size_t{1});
    QCOMPARE(defaults.findChild<QLineEdit*>("port")->text(), QString("7201"));
    QVERIFY(defaults.findChild<QRadioButton*>("any")->isChecked());
  }

  void start_and_stop_follow_real_clients() {
    int port = free_port();
    Messages messages;
    ControlWindow window(options_for(config(port_config(port))), messages.recorder());
    show(window);
    QLineEdit* status = window.findChild<QLineEdit*>("status");
    QLineEdit* count = window.findChild<QLineEdit*>("connections");
    QLineEdit* requests = window.findChild<QLineEdit*>("requests");
    QCOMPARE(requests->text(), QString("0"));

    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    QCOMPARE(status->text(), QString("Running"));
    auto first = connect_client(port);
    QVERIFY(first);
    QVERIFY(echoes(*first));
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QString("1"), 30000);
    auto second = connect_client(port);
    QVERIFY(second);
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QString("2"), 30000);
    first.reset();
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QString("1"), 30000);
    QCOMPARE(status->text(), QString("Running"));

    QTest::mouseClick(window.findChild<QPushButton*>("stop"), Qt::LeftButton);
    QCOMPARE(status->text(), QString("Stopped"));
    QCOMPARE(count->text(), QString("0"));
    QVERIFY(second->closed_by_server());
    QVERIFY(!TestClient(port).connected());

    // A second Start serves again on the same port.
    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    auto again = connect_client(port);
    QVERIFY(again);
    QVERIFY(echoes(*again));
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QString("1"), 30000);
    // The echoes of both runs.
    QTRY_COMPARE_WITH_TIMEOUT(requests->text(), QString("2"), 30000);
    QVERIFY(messages.seen.empty());
  }

  void stop_right_after_start_returns_at_once() {
    int port = free_port();
    Messages messages;
    ControlWindow window(options_for(config(port_config(port))), messages.recorder());
    show(window);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 20; ++i) {
      QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
      QTest::mouseClick(window.findChild<QPushButton*>("stop"), Qt::LeftButton);
      QCOMPARE(window.findChild<QLineEdit*>("status")->text(), QString("Stopped"));
    }
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!TestClient(port).connected());
  }

  void port_in_use_returns_to_stopped() {
    BusyPort busy;
    QVERIFY(busy.port() != 0);
    int port = busy.port();

    Messages messages;
    ControlWindow window(options_for(config(port_config(port))), messages.recorder());
    show(window);
    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QLineEdit*>("status")->text(), QString("Stopped"),
                              30000);
    QCOMPARE(window.findChild<QLineEdit*>("connections")->text(), QString("0"));
    QVERIFY(messages.seen.empty());
  }

  void start_while_running_does_nothing() {
    int port = free_port();
    int other_port = free_port();
    Messages messages;
    ControlWindow window(options_for(config(port_config(port))), messages.recorder());
    show(window);
    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    auto client = connect_client(port);
    QVERIFY(client);
    QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QLineEdit*>("connections")->text(), QString("1"),
                              30000);

    QLineEdit* port_box = window.findChild<QLineEdit*>("port");
    port_box->setText(QString::number(other_port));
    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    QCOMPARE(window.findChild<QLineEdit*>("status")->text(), QString("Running"));
    QCOMPARE(window.findChild<QLineEdit*>("connections")->text(), QString("1"));
    // Still the first server: the connection survived and the new port is closed.
    QVERIFY(echoes(*client));
    QVERIFY(!TestClient(other_port).connected());
    QVERIFY(messages.seen.empty());
  }

  void port_box_refuses_values_outside_1_to_65535() {
    int port = free_port();
    Messages messages;
    ControlWindow window(options_for(config(port_config(port))), messages.recorder());
    show(window);
    QLineEdit* port_box = window.findChild<QLineEdit*>("port");
    QPushButton* start = window.findChild<QPushButton*>("start");

    for (const char* refused : {"0", "65536", "00000", ""}) {
      messages.seen.clear();
      port_box->clear();
      QTest::keyClicks(port_box, refused);
      QCOMPARE(port_box->text(), QString(refused));
      QTest::mouseClick(start, Qt::LeftButton);
      QCOMPARE(messages.seen.size(), size_t{1});
      QCOMPARE(messages.seen[0].second, QString("Please enter an integer between 1 and 65535."));
      QCOMPARE(window.findChild<QLineEdit*>("status")->text(), QString("Stopped"));
    }

    // Only digits can be typed.
    port_box->clear();
    QTest::keyClicks(port_box, "7a0-1 ");
    QCOMPARE(port_box->text(), QString("701"));

    // "Finished" checks the port too: a refused port keeps the window open.
    port_box->setText("65536");
    messages.seen.clear();
    QTest::mouseClick(window.findChild<QPushButton*>("finished"), Qt::LeftButton);
    QCOMPARE(messages.seen.size(), size_t{1});
    QVERIFY(window.isVisible());

    port_box->setText("65535");
    messages.seen.clear();
    QTest::mouseClick(window.findChild<QPushButton*>("finished"), Qt::LeftButton);
    QVERIFY(messages.seen.empty());
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), int(QDialog::Accepted));
  }

  void closing_with_clients_ends_every_connection_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Finished") << "finished";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("window closed") << "close";
  }
  void closing_with_clients_ends_every_connection() {
    QFETCH(QString, how);
    int port = free_port();
    Messages messages;
    ControlWindow window(options_for(config(port_config(port))), messages.recorder());
    show(window);
    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) {
      clients.push_back(connect_client(port));
      QVERIFY(clients.back());
    }
    QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QLineEdit*>("connections")->text(), QString("3"),
                              30000);

    if (how == "finished") {
      QTest::mouseClick(window.findChild<QPushButton*>("finished"), Qt::LeftButton);
    } else if (how == "escape") {
      QTest::keyClick(&window, Qt::Key_Escape);
    } else {
      window.close();
    }
    QVERIFY(!window.isVisible());
    for (auto& client : clients)
      QVERIFY(client->closed_by_server());
    QVERIFY(!TestClient(port).connected());
    QVERIFY(messages.seen.empty());
  }

 private:
  std::string config(const std::string& text) {
    std::string path = dir_.filePath(QString("c%1.conf").arg(++files_)).toStdString();
    std::ofstream(path) << text;
    return path;
  }
  static std::string port_config(int port) {
    return "interface = \"localhost\"\nport = " + std::to_string(port) + "\natalla default {\n}\n";
  }
  static ProgramOptions options_for(const std::string& path) {
    ProgramOptions options;
    options.config_path = path;
    return options;
  }
  static void show(ControlWindow& window) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
  }

  QTemporaryDir dir_;
  int files_ = 0;
};

}  // namespace palisim::testing

QTEST_MAIN(palisim::testing::ControlWindowTest)
#include "control_window_test.moc"
