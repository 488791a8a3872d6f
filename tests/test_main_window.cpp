// The main window: geometry at two scales, labels from the settings, the install button's
// state and the keys.

#include "gui/circle.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "support/message_log.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const char* const custom_json = R"({"labels": [
    {"id": "status_noDev", "position": {"x": 37, "y": 483}, "text": "status"},
    {"id": "two_lf", "position": {"x": 10, "y": 20}, "text": "a\nb\nc"},
    {"id": "no_position", "text": "no position"},
    {"id": "x_zero", "position": {"x": 0, "y": 30}, "text": "x is zero"},
    {"id": "y_negative", "position": {"x": 30, "y": -4}, "text": "y negative"},
    {"id": "odd", "position": {"x": 37, "y": 483}, "text": "odd"},
    {"id": "empty", "position": {"x": 5, "y": 5}, "text": ""},
    {"id": "not_created", "create": false, "position": {"x": 5, "y": 5}, "text": "never"},
    {"id": "sim_mode", "position": {"x": 480, "y": 407}, "create": false, "text": "Simulator mode"},
    {"id": "8b2", "position": {"x": 100, "y": 100}, "text": "caption as a label"},
    {"id": "black", "position": {"x": 3, "y": 3}, "white": false, "font": "Serif", "size": 20,
     "text": "black"},
    {"id": "4_hdr", "position": {"x": 400, "y": 10}, "text": "header"},
    {"id": "3", "position": {"x": 5, "y": 6}, "text": "three"}
]})";

Settings::Settings shipped_settings() {
    Settings::Settings s;
    s.gui = Settings::make_GUI(QStringLiteral(":resources/settings_GUI.json"));
    s.desired_type = Device::VELK;
    s.desired_revision = QStringLiteral("B8");
    return s;
}

Settings::Settings custom_settings() {
    Settings::Settings s;
    s.gui = Settings::GUI(QString::fromUtf8(custom_json));
    s.desired_type = Device::RAMO;
    s.desired_revision = QStringLiteral("C1");
    return s;
}

QLabel* label_of(const QWidget* window, const QString& id) {
    return window->findChild<QLabel*>(id, Qt::FindDirectChildrenOnly);
}

// A part of the hint line with one value; a null value: no part.
HintLine::Part hint_part(const QString& words, const QString& value, const QString& frame,
                         bool beside = false) {
    HintLine::Part part;
    if (value.isNull())
        return part;
    part.words = [words](const QStringList& values) { return words.arg(values.value(0)); };
    part.values = QStringList{value};
    part.frame = frame;
    part.beside_explanation = beside;
    return part;
}

QStringList label_ids(const QWidget* window) {
    QStringList ids;
    for (const QLabel* l : window->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        ids << l->objectName();
    return ids;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void geometry_data();
    void geometry();
    void shipped_labels();
    void label_placement_data();
    void label_placement();
    void label_roles_and_styles();
    void simulator_label();
    void hint_line_data();
    void hint_line();
    void keys();
    void download_slots_follow_every_call();
    void install_click_is_logged();
    void missing_status_text_is_fatal();
};

void TestMainWindow::cleanup() {
    MainWindow::forced_scale_factor.reset();
}

void TestMainWindow::geometry_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("window_size");
    QTest::addColumn<QRect>("button");
    QTest::addColumn<QRect>("circle");
    QTest::addColumn<int>("circle_pen");
    QTest::newRow("macOS, 1.0") << 1.0 << QSize(665, 517) << QRect(207, 417, 250, 40)
                                << QRect(278, 270, 40, 40) << 5;
    QTest::newRow("144 dpi, 1.5") << 1.5 << QSize(997, 775) << QRect(310, 625, 375, 60)
                                  << QRect(417, 405, 60, 60) << 7;
}

void TestMainWindow::geometry() {
    QFETCH(double, scale);
    QFETCH(QSize, window_size);
    MainWindow::forced_scale_factor = scale;
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));
    QCOMPARE(window->scaleFactor, scale);
    QCOMPARE(window->size(), window_size);
    QCOMPARE(window->minimumSize(), window_size);
    QCOMPARE(window->maximumSize(), window_size);

    // Centred horizontally, 50 design pixels below the top of the screen.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QVERIFY(qAbs(window->geometry().center().x() - screen.center().x()) <= 1);
    QCOMPARE(window->geometry().top(), screen.top() + qRound(50 * scale));

    QTEST(window->installButton->geometry(), "button");
    QTEST(window->progressBar->geometry(), "button");
    QVERIFY(window->progressBar->isHidden());
    const QList<Circle*> circles = window->findChildren<Circle*>();
    QCOMPARE(circles.size(), 1);
    QTEST(circles[0]->geometry(), "circle");
    QTEST(circles[0]->data().pen_width, "circle_pen");
    QVERIFY(circles[0]->isVisible());
    QVERIFY(window->styleSheet().contains(QLatin1String("url(\"://resources/background.jpg\")")));
    // The settings keep their unscaled values.
    QCOMPARE(s.gui.circles[0].center.x, 298);
    QCOMPARE(s.gui.circles[0].radius, 20);
}

// At 1.5, so that a position or size left unscaled shows.
void TestMainWindow::shipped_labels() {
    const double scale = 1.5;
    MainWindow::forced_scale_factor = scale;
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));

    QCOMPARE(label_ids(window.get()),
             QStringList({"2", "4", "5", "7a", "7b", "7c", "9", "status_noDev", "status_hint"}));
    QCOMPARE(window->statusLabel, label_of(window.get(), QStringLiteral("status_noDev")));
    QCOMPARE(window->hintLabel, label_of(window.get(), QStringLiteral("status_hint")));
    QCOMPARE(window->installButton->text(), QStringLiteral("5. Click here to start upgrade"));

    for (const Settings::LabelData& entry : s.gui.labels) {
        QLabel* label = label_of(window.get(), entry.id);
        if (!label || label == window->statusLabel || label == window->hintLabel)
            continue;
        QCOMPARE(label->pos(),
                 QPoint(qRound(entry.position.x * scale), qRound(entry.position.y * scale)));
        QVERIFY(label->isVisible());
        const QFontMetrics metrics(label->font());
        QCOMPARE(label->height(), metrics.height() * (label->text().count('\n') + 1));
        if (entry.id != QLatin1String("4"))
            QCOMPARE(label->width(), metrics.horizontalAdvance(label->text()));
    }

    // The status line ends where the explanation line under it begins; that one reaches the
    // window's bottom, keeps the status line's margin on both sides, and overlaps no other label.
    const QRect status = window->statusLabel->geometry();
    const QRect hint = window->hintLabel->geometry();
    QCOMPARE(status.topLeft(), QPoint(qRound(37 * scale), qRound(483 * scale)));
    QCOMPARE(hint.topLeft(), QPoint(qRound(37 * scale), qRound(500 * scale)));
    QCOMPARE(status.bottom() + 1, hint.top());
    QCOMPARE(hint.bottom() + 1, window->height());
    QCOMPARE(hint.right() + 1, window->width() - hint.left());
    QVERIFY(window->hintLabel->text().isEmpty());
    for (const QLabel* other : window->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(other == window->hintLabel || !other->geometry().intersects(hint),
                 qPrintable(other->objectName()));

    QLabel* title = label_of(window.get(), QStringLiteral("2"));
    QVERIFY(title->text().contains(QLatin1String(">Lumo-7 SyncX</span>")));
    QCOMPARE(title->alignment(), Qt::AlignLeft | Qt::AlignTop);
    QLabel* firmware = label_of(window.get(), QStringLiteral("4"));
    QVERIFY(firmware->text().endsWith(QLatin1String("\nB8</span>")));
    QCOMPARE(firmware->alignment(), Qt::AlignRight | Qt::AlignTop);
    QCOMPARE(firmware->width(), int(228 * scale));
}

void TestMainWindow::label_placement_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("line_heights");
    QTest::newRow("two line feeds at 1.5") << "two_lf" << 1.5 << QPoint(15, 30) << 3;
    QTest::newRow("no position") << "no_position" << 1.5 << QPoint(0, 0) << 1;
    QTest::newRow("x zero") << "x_zero" << 1.0 << QPoint(0, 0) << 1;
    QTest::newRow("y negative") << "y_negative" << 1.0 << QPoint(0, 0) << 1;
    QTest::newRow("rounded half away from zero") << "odd" << 1.5 << QPoint(56, 725) << 1;
}

void TestMainWindow::label_placement() {
    QFETCH(QString, id);
    QFETCH(double, scale);
    QFETCH(int, line_heights);
    MainWindow::forced_scale_factor = scale;
    Settings::Settings s = custom_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));
    QLabel* label = label_of(window.get(), id);
    QVERIFY(label);
    QTEST(label->pos(), "pos");
    const QFontMetrics metrics(label->font());
    QCOMPARE(label->height(), line_heights * metrics.height());
    QCOMPARE(label->width(), metrics.horizontalAdvance(label->text()));
}

void TestMainWindow::label_roles_and_styles() {
    MainWindow::forced_scale_factor = 1.0;
    Settings::Settings s = custom_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));

    const QStringList ids = label_ids(window.get());
    QVERIFY(!ids.contains(QStringLiteral("empty")));
    QVERIFY(!ids.contains(QStringLiteral("not_created")));
    // "8b2" created as an ordinary label: the button gets no caption.
    QVERIFY(ids.contains(QStringLiteral("8b2")));
    QVERIFY(window->installButton->text().isEmpty());

    QLabel* black = label_of(window.get(), QStringLiteral("black"));
    QVERIFY(black->styleSheet().contains(QLatin1String("color : black;")));
    QCOMPARE(black->font().family(), QFont(QStringLiteral("Serif")).family());
    const QScreen* screen = QGuiApplication::primaryScreen();
    QCOMPARE(black->font().pixelSize(), int(20 * screen->physicalDotsPerInch() / 110.0));
    QVERIFY(label_of(window.get(), QStringLiteral("two_lf"))
                ->styleSheet()
                .contains(QLatin1String("color : rgba(175,175,175,100%);")));

    QLabel* header = label_of(window.get(), QStringLiteral("4_hdr"));
    QCOMPARE(header->alignment(), Qt::AlignRight | Qt::AlignTop);
    QCOMPARE(header->width(), 228);
    QCOMPARE(label_of(window.get(), QStringLiteral("3"))->alignment(),
             Qt::AlignLeft | Qt::AlignTop);
}

void TestMainWindow::simulator_label() {
    MainWindow::forced_scale_factor = 1.5;
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> plain(MainWindow_factory(&s, nullptr, false));
    QVERIFY(!label_of(plain.get(), QStringLiteral("sim_mode")));
    std::unique_ptr<MainWindow> simulated(MainWindow_factory(&s, nullptr, true));
    QLabel* sim = label_of(simulated.get(), QStringLiteral("sim_mode"));
    QVERIFY(sim);
    QCOMPARE(sim->pos(), QPoint(720, 611));
    QCOMPARE(sim->text(), QStringLiteral("Simulator mode"));
    QVERIFY(!label_of(simulated.get(), QStringLiteral("debug_mode")));
}

// The explanation and the note on the one hint line, with the shipped frames; a value too long
// is shortened ("…"), no more than needed, and the tooltip keeps the whole words. In a row's
// line, "%x" stands for the long value as shortened.
void TestMainWindow::hint_line_data() {
    QTest::addColumn<QString>("explained"); // the explanation's value; null: no explanation
    QTest::addColumn<QString>("noted");     // the note's value; null: no note
    QTest::addColumn<bool>("beside");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("tooltip");
    const Settings::Settings s = shipped_settings();
    const QString hint = s.gui.text(QStringLiteral("status_hint"));
    const QString calm = s.gui.text(QStringLiteral("status_note"));
    const QString long_value(400, QLatin1Char('x'));
    QTest::newRow("explanation only")
        << "cable" << QString() << false << hint.arg("Explained (cable).") << "Explained (cable).";
    QTest::newRow("note only") << QString() << "B8 & B7" << false
                               << calm.arg("Noted (B8 &amp; B7).") << "Noted (B8 & B7).";
    QTest::newRow("both, the note in the tooltip only")
        << "cable"
        << "B8" << false << hint.arg("Explained (cable).") << "Explained (cable).\nNoted (B8).";
    QTest::newRow("both, the note beside the explanation")
        << "cable"
        << "B8" << true << hint.arg("Explained (cable).") + " " + calm.arg("Noted (B8).")
        << "Explained (cable).\nNoted (B8).";
    QTest::newRow("a long explanation shortened")
        << long_value << QString() << false << hint.arg("Explained (%x).")
        << "Explained (" + long_value + ").";
    QTest::newRow("a long note beside shortened, not the explanation")
        << "cable" << long_value << true
        << hint.arg("Explained (cable).") + " " + calm.arg("Noted (%x).")
        << "Explained (cable).\nNoted (" + long_value + ").";
    QTest::newRow("nothing") << QString() << QString() << true << QString() << QString();
}

void TestMainWindow::hint_line() {
    QFETCH(QString, explained);
    QFETCH(QString, noted);
    QFETCH(bool, beside);
    QFETCH(QString, line);
    MainWindow::forced_scale_factor = 1.0;
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));
    HintLine* hint = window->hintLabel;
    const HintLine::Part explanation =
        hint_part("Explained (%1).", explained, s.gui.text(QStringLiteral("status_hint")));
    // As the program does: the explanation first, then the note.
    hint->explain(explanation);
    hint->note(hint_part("Noted (%1).", noted, s.gui.text(QStringLiteral("status_note")), beside));
    QVERIFY(window->hintFits());
    const QString drawn = hint->text();
    QTEST(hint->toolTip(), "tooltip");
    // A new explanation keeps the note.
    hint->explain(explanation);
    QCOMPARE(hint->text(), drawn);
    QTEST(hint->toolTip(), "tooltip");

    if (line.contains(QLatin1String("%x"))) {
        const QRegularExpressionMatch kept =
            QRegularExpression(QStringLiteral("(x+)\u2026")).match(drawn);
        QVERIFY2(kept.hasMatch(), qPrintable(drawn));
        // One character more, as the step before it was, would not have fitted.
        hint->setText(QString(line).replace(QLatin1String("%x"), "x" + kept.captured()));
        QVERIFY(!hint->fits());
        line.replace(QLatin1String("%x"), kept.captured());
    }
    QCOMPARE(drawn, line);
}

void TestMainWindow::keys() {
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));
    QSignalSpy finished(window.get(), &MainWindow::finished);
    QSignalSpy changed(window.get(), &MainWindow::downloadModeChanged);
    QVERIFY(!window->downloadMode);
    QVERIFY(!window->installButton->isEnabled());
    QCOMPARE(window->installButton->objectName(), QStringLiteral("GUI_8"));

    QTest::keyClick(window.get(), Qt::Key_A);
    QVERIFY(window->installButton->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_A, Qt::ShiftModifier); // modifiers are not examined
    QVERIFY(!window->installButton->isEnabled());
    QCOMPARE(changed.count(), 2);

    QTest::keyClick(window.get(), Qt::Key_Q);
    QCOMPARE(finished.count(), 1);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QCOMPARE(finished.count(), 2);
    QVERIFY(window->isVisible()); // stopping the workflow does not close the window

    QTest::keyClick(window.get(), Qt::Key_B);
    QTest::keyClick(window.get(), Qt::Key_Return);
    QCOMPARE(finished.count(), 2);
    QCOMPARE(changed.count(), 2);
    QVERIFY(!window->installButton->isEnabled());
}

void TestMainWindow::download_slots_follow_every_call() {
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));
    QSignalSpy changed(window.get(), &MainWindow::downloadModeChanged);
    window->enableDownload();
    window->enableDownload(); // unchanged, announced all the same
    QVERIFY(window->installButton->isEnabled());
    window->toggleDownload();
    QVERIFY(!window->installButton->isEnabled());
    window->disableDownload();
    QCOMPARE(changed.count(), 4);

    MainWindow bare(&s); // without a button only the mode changes
    bare.enableDownload();
    QVERIFY(bare.downloadMode);
}

void TestMainWindow::install_click_is_logged() {
    Settings::Settings s = shipped_settings();
    std::unique_ptr<MainWindow> window(MainWindow_factory(&s, nullptr, false));
    MessageLog log;
    QSignalSpy clicked(window->installButton, &QPushButton::clicked);
    QTest::mouseClick(window->installButton, Qt::LeftButton);
    QCOMPARE(clicked.count(), 0); // disabled
    window->enableDownload();
    QTest::mouseClick(window->installButton, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(log.count(QStringLiteral("Install clicked")), 1);
}

void TestMainWindow::missing_status_text_is_fatal() {
    if (qEnvironmentVariableIsSet("ORVANTA_FATAL_CHILD")) {
        Settings::Settings s;
        s.gui = Settings::GUI(QStringLiteral(R"({"labels": [{"id": "status_noDev"}]})"));
        MainWindow_factory(&s, nullptr, false);
        QFAIL("the factory returned");
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANTA_FATAL_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("missing_status_text_is_fatal")});
    QVERIFY(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY2(output.contains(QLatin1String("No message with id 'status_noDev' found, aborting")),
             qPrintable(output));
    QVERIFY(!output.contains(QLatin1String("the factory returned")));
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
