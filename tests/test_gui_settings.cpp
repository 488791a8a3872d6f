// The settings file parser: defaults, type handling, lookups, text forms, the shipped file.

#include "gui/settings.h"
#include "support/file_contents.h"
#include "support/message_log.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using Settings::CircleData;
using Settings::GUI;
using Settings::LabelData;

class TestGuiSettings : public QObject {
    Q_OBJECT
private slots:
    void label_factory_data();
    void label_factory();
    void circle_factory_data();
    void circle_factory();
    void label_text_form_flags_data();
    void label_text_form_flags();
    void document_shapes_data();
    void document_shapes();
    void line_breaks_raw_and_escaped();
    void lookup();
    void debug_operators_quote_and_restore();
    void shipped_file();
    void loading_from_files();
};

void TestGuiSettings::label_factory_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("font");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("create");
    QTest::addColumn<bool>("white");

    QTest::newRow("only id") << R"({"id": "x"})"
                             << "x" << -1 << -1 << -1 << ""
                             << "" << true << true;
    QTest::newRow("position with y only") << R"({"id": "p", "position": {"y": 7}})"
                                          << "p" << -1 << 7 << -1 << ""
                                          << "" << true << true;
    QTest::newRow("position not an object") << R"({"id": "p", "position": 12})"
                                            << "p" << -1 << -1 << -1 << ""
                                            << "" << true << true;
    QTest::newRow("fractional numbers read as 0")
        << R"({"id": "f", "position": {"x": 1.5, "y": 2}, "size": 12.5})"
        << "f" << 0 << 2 << 0 << ""
        << "" << true << true;
    QTest::newRow("number given as string reads as 0") << R"({"id": "s", "size": "12"})"
                                                       << "s" << -1 << -1 << 0 << ""
                                                       << "" << true << true;
    QTest::newRow("all members")
        << R"({"id": "a", "position": {"x": 3, "y": 4}, "size": 14, "font": "Serif",
               "text": "hi", "create": false, "white": false, "other": 1})"
        << "a" << 3 << 4 << 14 << "Serif"
        << "hi" << false << false;
    QTest::newRow("boolean given as string reads as false")
        << R"({"id": "b", "create": "true", "white": 1})"
        << "b" << -1 << -1 << -1 << ""
        << "" << false << false;
}

void TestGuiSettings::label_factory() {
    QFETCH(QString, json);
    const LabelData d =
        Settings::LabelData_factory(QJsonDocument::fromJson(json.toUtf8()).object());
    QTEST(d.id, "id");
    QTEST(d.position.x, "x");
    QTEST(d.position.y, "y");
    QTEST(d.size, "size");
    QTEST(d.font, "font");
    QTEST(d.text, "text");
    QTEST(d.create, "create");
    QTEST(d.white, "white");
}

void TestGuiSettings::circle_factory_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("text_form");
    QTest::addColumn<bool>("color_valid");

    QTest::newRow("shipped circle")
        << R"({"name": "Head-button", "center": {"x": 298, "y": 290}, "radius": 20,
               "pen_width": 5, "color": "#60FF4040"})"
        << "Circle 'Head-button': (298,290), r=20, w=5, color=#60ff4040" << true;
    QTest::newRow("no center") << R"({"name": "c", "radius": 3, "pen_width": 1, "color": "red"})"
                               << "Circle 'c': (0,0), r=3, w=1, color=#ffff0000" << true;
    QTest::newRow("center with y only")
        << R"({"name": "c", "center": {"y": 9}, "color": "#000000"})"
        << "Circle 'c': (0,9), r=0, w=0, color=#ff000000" << true;
    QTest::newRow("fractional radius reads as 0")
        << R"({"name": "c", "radius": 20.5, "pen_width": "5", "color": "blue"})"
        << "Circle 'c': (0,0), r=0, w=0, color=#ff0000ff" << true;
    QTest::newRow("no color") << R"({"name": "c"})" << QString() << false;
    QTest::newRow("unknown color name") << R"({"color": "no-such-colour"})" << QString() << false;
}

void TestGuiSettings::circle_factory() {
    QFETCH(QString, json);
    QFETCH(QString, text_form);
    const CircleData d =
        Settings::CircleData_factory(QJsonDocument::fromJson(json.toUtf8()).object());
    QTEST(d.color.isValid(), "color_valid");
    if (!text_form.isNull())
        QCOMPARE(QString(d), text_form);
}

void TestGuiSettings::label_text_form_flags_data() {
    QTest::addColumn<bool>("create");
    QTest::addColumn<bool>("white");
    QTest::addColumn<QString>("braces");
    QTest::newRow("not white") << true << false << "{not-white}";
    QTest::newRow("not created") << false << true << "{no-create}";
    QTest::newRow("neither") << false << false << "{not-white no-create}";
}

void TestGuiSettings::label_text_form_flags() {
    QFETCH(bool, create);
    QFETCH(bool, white);
    QFETCH(QString, braces);
    LabelData d;
    d.id = QStringLiteral("L");
    d.position = {10, 20};
    d.size = 12;
    d.font = QStringLiteral("Mono");
    d.text = QStringLiteral("a %1 b");
    d.create = create;
    d.white = white;
    QCOMPARE(QString(d), QStringLiteral("Label 'L': (10,20) %1 font='Mono':12: 'a %1 b'")
                             .replace(QLatin1String("%1 font"), braces + QLatin1String(" font")));
}

void TestGuiSettings::document_shapes_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("circles");
    QTest::addColumn<int>("labels");
    QTest::newRow("empty object") << "{}" << 0 << 0;
    QTest::newRow("not JSON") << "labels: [" << 0 << 0;
    QTest::newRow("top level array") << R"([{"labels": [{"id": "a"}]}])" << 0 << 0;
    QTest::newRow("members not arrays") << R"({"labels": {"id": "a"}, "circles": 3})" << 0 << 0;
    QTest::newRow("elements not objects") << R"({"labels": [1, "x"], "circles": [null]})" << 1 << 2;
}

void TestGuiSettings::document_shapes() {
    QFETCH(QString, json);
    const GUI gui(json);
    QVERIFY(gui.valid);
    QTEST(int(gui.circles.size()), "circles");
    QTEST(int(gui.labels.size()), "labels");
    for (const LabelData& l : gui.labels) {
        QVERIFY(l.id.isNull());
        QCOMPARE(l.position.x, -1);
        QVERIFY(l.create);
    }
    if (gui.circles.empty() && gui.labels.empty())
        QCOMPARE(QString(gui), QStringLiteral("GUI settings:\n"));
}

void TestGuiSettings::line_breaks_raw_and_escaped() {
    const GUI raw(QStringLiteral("{\"labels\": [{\"id\": \"a\", \"text\": \"one\ntwo\"}]}"));
    const GUI escaped(QStringLiteral("{\"labels\": [{\"id\": \"a\", \"text\": \"one\\ntwo\"}]}"));
    QCOMPARE(raw.labels.size(), std::size_t(1));
    QCOMPARE(raw.text(QStringLiteral("a")), QStringLiteral("one\ntwo"));
    QCOMPARE(escaped.text(QStringLiteral("a")), QStringLiteral("one\ntwo"));
}

// The first label of an id, case-sensitive; a missing id warns at every call.
void TestGuiSettings::lookup() {
    const GUI gui(QStringLiteral(R"({"labels": [{"id": "a", "text": "first"},
                                                {"id": "A", "text": "upper"},
                                                {"id": "a", "text": "second"}]})"));
    MessageLog log;
    QCOMPARE(gui.label(QStringLiteral("a")), &gui.labels[0]);
    QCOMPARE(gui.text(QStringLiteral("a")), QStringLiteral("first"));
    QCOMPARE(gui.text(QStringLiteral("A")), QStringLiteral("upper"));
    QCOMPARE(log.texts(QtWarningMsg), QStringList());

    QVERIFY(!gui.label(QStringLiteral("b")));
    QVERIFY(gui.text(QStringLiteral("b")).isEmpty());
    QVERIFY(!GUI().label(QStringLiteral("a")));
    QCOMPARE(log.texts(QtWarningMsg),
             QStringList({QStringLiteral("No matching label with id \"b\" found"),
                          QStringLiteral("No matching label with id \"b\" found"),
                          QStringLiteral("No matching label with id \"a\" found")}));
}

void TestGuiSettings::debug_operators_quote_and_restore() {
    const GUI gui(QStringLiteral(R"({"circles": [{"name": "c", "color": "#01020304"}],
                                     "labels": [{"id": "l", "text": "t"}]})"));
    const QString circle_text = QStringLiteral("Circle 'c': (0,0), r=0, w=0, color=#01020304");
    const QString label_text = QStringLiteral("Label 'l': (-1,-1) {} font='':-1: 't'");
    MessageLog log;
    qDebug() << gui << QStringLiteral("after");
    qDebug() << GUI();
    qDebug() << gui.labels[0] << gui.circles[0];
    qDebug().noquote() << gui.labels[0] << QStringLiteral("after");
    QCOMPARE(
        log.texts(QtDebugMsg),
        QStringList(
            {QStringLiteral("GUI settings:\n\t%1\n\t%2\n \"after\"").arg(circle_text, label_text),
             QStringLiteral("GUI settings:\n\tInvalid\n"),
             QStringLiteral("\"%1\" \"%2\"").arg(label_text, circle_text),
             label_text + QStringLiteral(" after")}));
}

void TestGuiSettings::shipped_file() {
    const GUI gui = Settings::make_GUI(QStringLiteral(":resources/settings_GUI.json"));
    QVERIFY(gui.valid);
    QCOMPARE(gui.circles.size(), std::size_t(1));
    QCOMPARE(QString(gui.circles[0]),
             QStringLiteral("Circle 'Head-button': (298,290), r=20, w=5, color=#60ff4040"));
    QCOMPARE(gui.circles[0].color, QColor(0xFF, 0x40, 0x40, 0x60));

    const QString status_prefix = QStringLiteral("<span style=\"color:#000000; font-size:9pt\">\n");
    struct Expected {
        const char* id;
        int x, y;
        bool create;
        QString text;
    };
    const std::vector<Expected> expected = {
        {"2", 37, 32, true,
         QStringLiteral("<span style=\"font-size:20pt\">\n<span style=\"color:#FFFFFF; "
                        "font-weight:bold;\">Firmware upgrade</span>\n<br>\n<span "
                        "style=\"font-weight:bold\">%1</span>\n</span>")},
        {"4", 400, 32, true,
         QStringLiteral("<span style=\"font-size:20pt\">\nFirmware version:\n<br>\n%1</span>")},
        {"5", 37, 270, true, QStringLiteral("Follow the steps below\nto upgrade your product.")},
        {"7a", 37, 320, true, QStringLiteral("1. Disconnect power cable")},
        {"7b", 37, 350, true, QStringLiteral("2. Wait for 2 minutes")},
        {"7c", 37, 380, true,
         QStringLiteral("3. Press left \"MODEL\" button\n    while connecting power cable")},
        {"9", 37, 428, true, QStringLiteral("4. Connect USB cable")},
        {"8b2", -1, -1, false, QStringLiteral("5. Click here to start upgrade")},
        {"status_noDev", 37, 483, true,
         status_prefix +
             QStringLiteral("The USB cable must have a 'Type B' plug and a 'Type A' plug.</span>")},
        {"status_devConn", -1, -1, false,
         status_prefix + QStringLiteral("Connected to a %1.</span>")},
        {"status_devRev", -1, -1, false,
         status_prefix + QStringLiteral("Connected to a %1 with firmware version %2</span>")},
        {"status_devRevUnknown", -1, -1, false,
         status_prefix + QStringLiteral("Connected to a %1 with unknown firmware version.</span>")},
        {"status_stopAfterTransfer", -1, -1, false,
         status_prefix + QStringLiteral("Stopping once the running transfer has finished. Keep "
                                        "the unit connected.</span>")},
        {"status_stoppedWritten", -1, -1, false,
         status_prefix + QStringLiteral("Stopped. The firmware was written but not verified: "
                                        "start the program again to verify it.</span>")},
        {"status_stoppedWriteFailed", -1, -1, false,
         status_prefix + QStringLiteral("Stopped. Writing the firmware failed: start the program "
                                        "again to install it.</span>")},
        {"status_stoppedVerified", -1, -1, false,
         status_prefix + QStringLiteral("Stopped. The firmware in the unit is verified.</span>")},
        {"status_stoppedDiffers", -1, -1, false,
         status_prefix + QStringLiteral("Stopped. The firmware read back differs or could not be "
                                        "read: start the program again to install it.</span>")},
        {"app_name", 480, 387, false, QString()},
        {"sim_mode", 480, 407, false, QStringLiteral("Simulator mode")},
        {"debug_mode", 480, 427, false, QStringLiteral("Debug mode")},
    };
    // The texts of the explanation line follow the window's own entries; none is shown by itself.
    QVERIFY(gui.labels.size() > expected.size());
    for (std::size_t i = expected.size(); i < gui.labels.size(); ++i) {
        QVERIFY2(!gui.labels[i].create, qPrintable(gui.labels[i].id));
        QVERIFY2(!gui.labels[i].text.isEmpty(), qPrintable(gui.labels[i].id));
    }
    QCOMPARE(gui.labels[expected.size()].id, QStringLiteral("status_hint"));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const LabelData& l = gui.labels[i];
        const Expected& e = expected[i];
        QCOMPARE(l.id, QString::fromLatin1(e.id));
        QCOMPARE(l.position.x, e.x);
        QCOMPARE(l.position.y, e.y);
        QCOMPARE(l.create, e.create);
        QCOMPARE(l.text, e.text.isNull() ? QStringLiteral("") : e.text);
    }
}

void TestGuiSettings::loading_from_files() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    QVERIFY(write_all(path, u8"{\"labels\": [{\"id\": \"x\", \"text\": \"Grüße\"}]}"));
    QCOMPARE(Settings::make_GUI(path).text(QStringLiteral("x")), QStringLiteral("Grüße"));

    const QString missing = dir.filePath(QStringLiteral("missing.json"));
    bool thrown = false;
    try {
        Settings::make_GUI(missing);
    } catch (const QString& e) {
        thrown = true;
        QVERIFY(e.contains(missing));
    }
    QVERIFY(thrown);
}

QTEST_GUILESS_MAIN(TestGuiSettings)
#include "test_gui_settings.moc"
