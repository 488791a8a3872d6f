// The log window: line formats on the view and on standard error, the message handler with
// messages from other threads, the buttons, placement beside the main window, saving.

#include "app/log_message_handler.h"
#include "gui/log_line.h"
#include "gui/log_window.h"
#include "gui/log_window_dialog.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Redirects file descriptor 2 into a temporary file while it exists.
class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        saved_ = dup(2);
        dup2(file_.handle(), 2);
    }
    ~StderrCapture() { restore(); }
    QByteArray text() {
        restore();
        file_.seek(0);
        return file_.readAll();
    }

private:
    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

// Runs check on the first modal widget that appears, then closes it.
void on_next_modal(std::function<void(QWidget*)> check) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, check] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            check(modal);
        }
    });
    poll->start();
}

QPushButton* button(const LogWindowDialog* dialog, const QString& text) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Installs the log window's handler for the lifetime of the guard.
struct HandlerGuard {
    explicit HandlerGuard(LogWindow* window) {
        logWindow = window;
        previous = qInstallMessageHandler(logWindowMessageHandler);
    }
    ~HandlerGuard() {
        qInstallMessageHandler(previous);
        logWindow = nullptr;
    }
    QtMessageHandler previous;
};

} // namespace

class TestLogWindow : public QObject {
    Q_OBJECT
private slots:
    void line_formats_data();
    void line_formats();
    void handler_feeds_window_and_nothing_else();
    void messages_from_other_threads_arrive_in_order();
    void view_keeps_the_last_lines();
    void fatal_message_is_written_before_the_abort();
    void dialog_layout_and_buttons();
    void toggle_places_beside_main_window();
    void write_log_and_read_back();
    void unwritable_path_shows_warning();
    void cancelled_file_dialog_saves_nothing();
    void deleting_window_deletes_dialog();
};

void TestLogWindow::line_formats_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("with_context");
    QTest::addColumn<QString>("view");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("debug") << int(QtDebugMsg) << true << "Debug: hello"
                           << QByteArray("Debug: hello (src/a.cpp:12, void f())\n");
    QTest::newRow("info without prefix") << int(QtInfoMsg) << true << "hello"
                                         << QByteArray("Info: hello (src/a.cpp:12, void f())\n");
    QTest::newRow("warning") << int(QtWarningMsg) << true << "Warning: hello"
                             << QByteArray("Warning: hello (src/a.cpp:12, void f())\n");
    QTest::newRow("critical") << int(QtCriticalMsg) << true << "CRITICAL: hello"
                              << QByteArray("Critical: hello (src/a.cpp:12, void f())\n");
    QTest::newRow("fatal") << int(QtFatalMsg) << true << "FATAL: hello"
                           << QByteArray("Fatal: hello (src/a.cpp:12, void f())\n");
    QTest::newRow("release build context")
        << int(QtInfoMsg) << false << "hello" << QByteArray("Info: hello (:0, )\n");
}

void TestLogWindow::line_formats() {
    QFETCH(int, type);
    QFETCH(bool, with_context);
    const QMessageLogContext context =
        with_context ? QMessageLogContext("src/a.cpp", 12, "void f()", "default")
                     : QMessageLogContext();
    const logging::Line line = logging::format(QtMsgType(type), context, QStringLiteral("hello"));
    QTEST(line.standard_error, "err");
    QTEST(line.view, "view");
}

void TestLogWindow::handler_feeds_window_and_nothing_else() {
    LogWindow window;
    QTextBrowser* view = window.dialog()->view();
    StderrCapture err;
    {
        HandlerGuard guard(&window);
        qInfo() << "first" << 1;
        // Same thread: appended at once, without the event loop.
        QCOMPARE(view->toPlainText(), QStringLiteral("first 1"));
        qWarning("second");
        logWindow = nullptr; // no window: nothing happens
        qInfo("dropped");
    }
    const QByteArray text = err.text();
    QCOMPARE(view->toPlainText(), QStringLiteral("first 1\nWarning: second"));
    QVERIFY(text.startsWith("Info: first 1 ("));
    QVERIFY(text.contains("\nWarning: second ("));
    QVERIFY(!text.contains("dropped"));
    QCOMPARE(text.count('\n'), 2);
}

void TestLogWindow::messages_from_other_threads_arrive_in_order() {
    LogWindow window;
    QTextBrowser* view = window.dialog()->view();
    constexpr int count = 300;
    StderrCapture err;
    {
        HandlerGuard guard(&window);
        std::thread worker([] {
            for (int i = 0; i < count; ++i)
                qInfo("worker %d", i);
            // A context whose strings are gone before the message is delivered.
            auto file = std::make_unique<QByteArray>("worker.cpp");
            auto function = std::make_unique<QByteArray>("void run()");
            logWindowMessageHandler(
                QtWarningMsg,
                QMessageLogContext(file->constData(), 77, function->constData(), "default"),
                QStringLiteral("with context"));
            file->fill('X');
            function->fill('X');
        });
        worker.join();
        // Standard error has every line before any event is processed, as it must once the
        // event loop has ended; the view gets them by queued call.
        const QByteArray text = err.text();
        QCOMPARE(text.count("Info: worker "), count);
        QVERIFY(text.startsWith("Info: worker 0 ("));
        QVERIFY(text.endsWith("Warning: with context (worker.cpp:77, void run())\n"));
        QVERIFY(view->toPlainText().isEmpty()); // queued, not appended from the worker
        QTRY_COMPARE_WITH_TIMEOUT(view->document()->blockCount(), count + 1, 20000);
    }
    QStringList expected;
    for (int i = 0; i < count; ++i)
        expected << QStringLiteral("worker %1").arg(i);
    expected << QStringLiteral("Warning: with context");
    QCOMPARE(view->toPlainText().split('\n'), expected);
}

void TestLogWindow::view_keeps_the_last_lines() {
    LogWindow window;
    LogWindowDialog* dialog = window.dialog();
    HandlerGuard guard(&window);
    StderrCapture err;
    constexpr int extra = 5;
    for (int i = 0; i < LogWindowDialog::max_lines + extra; ++i)
        qInfo("line %d", i);
    QCOMPARE(dialog->view()->document()->blockCount(), LogWindowDialog::max_lines);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(dialog->write_log(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> saved = f.readAll().split('\n');
    QCOMPARE(saved.size(), LogWindowDialog::max_lines);
    QCOMPARE(saved.first(), QByteArray("line 5"));
    QCOMPARE(saved.last(), "line " + QByteArray::number(LogWindowDialog::max_lines + extra - 1));
    // Standard error keeps everything.
    QCOMPARE(err.text().count("Info: line "), LogWindowDialog::max_lines + extra);
}

// Qt aborts as soon as the handler returns from a fatal message: the line is written by then.
void TestLogWindow::fatal_message_is_written_before_the_abort() {
    if (qEnvironmentVariableIsSet("ORVANTA_FATAL_CHILD")) {
        LogWindow window;
        HandlerGuard guard(&window);
        qFatal("the end");
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANTA_FATAL_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("fatal_message_is_written_before_the_abort")});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY(child.readAllStandardError().contains("Fatal: the end ("));
}

void TestLogWindow::dialog_layout_and_buttons() {
    LogWindow window;
    LogWindowDialog* dialog = window.dialog();
    QVERIFY(!dialog->parent());
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->size(), QSize(600, 400));
    QVERIFY(dialog->windowTitle().isEmpty());
    QVERIFY(button(dialog, QStringLiteral("clear")));
    QVERIFY(button(dialog, QStringLiteral("save output")));
    QVERIFY(button(dialog, QStringLiteral("hide log")));

    window.show_line(QStringLiteral("line"));
    window.toggle_visibility(nullptr);
    QVERIFY(dialog->isVisible());
    // Escape and closing only hide the dialog; its lines stay.
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->close());
    QVERIFY(!dialog->isVisible());
    window.toggle_visibility(nullptr);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->view()->toPlainText(), QStringLiteral("line"));
    // The buttons sit at the right, below the view.
    QVERIFY(button(dialog, QStringLiteral("hide log"))->geometry().right() > dialog->width() - 30);
    QVERIFY(button(dialog, QStringLiteral("clear"))->y() > dialog->view()->geometry().bottom());

    QTest::mouseClick(button(dialog, QStringLiteral("clear")), Qt::LeftButton);
    QVERIFY(dialog->view()->toPlainText().isEmpty());
    QTest::mouseClick(button(dialog, QStringLiteral("hide log")), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
}

void TestLogWindow::toggle_places_beside_main_window() {
    LogWindow window;
    LogWindowDialog* dialog = window.dialog();
    QMainWindow main;
    main.setGeometry(10, 50, 150, 200);
    main.show();
    const QRect screen = main.screen()->availableGeometry();
    QVERIFY(main.geometry().right() + 600 <= screen.right());

    window.toggle_visibility(&main);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->pos(), QPoint(main.geometry().right(), main.geometry().top()));
    QCOMPARE(dialog->size(), QSize(600, 400));
    window.toggle_visibility(&main);
    QVERIFY(!dialog->isVisible());

    main.move(100, 80);
    dialog->resize(500, 300);
    window.toggle_visibility(&main);
    QCOMPARE(dialog->pos(), QPoint(main.geometry().right(), main.geometry().top()));
    QCOMPARE(dialog->size(), QSize(500, 300));
    window.toggle_visibility(&main);

    // Where the screen ends before the dialog would, it stays on the screen, buttons and all.
    main.move(screen.right() - 200, 80);
    window.toggle_visibility(&main);
    QCOMPARE(dialog->frameGeometry().right(), screen.right());
    QCOMPARE(dialog->pos().y(), main.geometry().top());
    window.toggle_visibility(&main);
}

// A message in HTML shows as rich text, goes to standard error as it is, and is saved as
// plain text.
void TestLogWindow::write_log_and_read_back() {
    LogWindow window;
    StderrCapture err;
    {
        HandlerGuard guard(&window);
        qInfo().noquote() << QStringLiteral("Grüße <b>bold</b>");
        qWarning("second");
    }
    QVERIFY(window.dialog()->view()->toHtml().contains(QLatin1String("font-weight:600")));
    QVERIFY(err.text().contains("<b>bold</b>"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(1000, 'x')); // an older, longer file is replaced entirely
    }
    QVERIFY(window.dialog()->write_log(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()), QStringLiteral("Grüße bold\nWarning: second"));
}

void TestLogWindow::unwritable_path_shows_warning() {
    LogWindow window;
    LogWindowDialog* dialog = window.dialog();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/dir/log.txt"));
    QVERIFY(!dialog->write_log(path));

    QString title, text;
    QMessageBox::StandardButtons buttons;
    QWidget* box_parent = nullptr;
    on_next_modal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box) {
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            box_parent = box->parentWidget();
        }
        modal->close();
    });
    dialog->save_to(path);
    QCOMPARE(box_parent, dialog);
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("<nobr>File '%1'<br/>cannot be opened for writing.<br/><br/>"
                                  "The log output could <b>not</b> be saved!</nobr>")
                       .arg(path));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!QFile::exists(path));

    // A cancelled choice writes nothing and shows nothing.
    dialog->save_to(QString());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestLogWindow::cancelled_file_dialog_saves_nothing() {
    LogWindow window;
    LogWindowDialog* dialog = window.dialog();
    window.show_line(QStringLiteral("saved line"));
    const QString proposed_path = QDir::homePath() + QStringLiteral("/logfile.txt");
    const bool existed = QFile::exists(proposed_path);
    QString caption;
    QStringList proposed;
    on_next_modal([&](QWidget* modal) {
        if (auto* fd = qobject_cast<QFileDialog*>(modal)) {
            caption = fd->windowTitle();
            proposed = fd->selectedFiles();
            fd->reject();
        } else {
            modal->close();
        }
    });
    QMetaObject::invokeMethod(dialog, "save");
    QCOMPARE(caption, QStringLiteral("Save Log Output"));
    QCOMPARE(proposed, QStringList(proposed_path));
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(QFile::exists(proposed_path), existed);
}

void TestLogWindow::deleting_window_deletes_dialog() {
    auto* window = new LogWindow;
    QPointer<LogWindowDialog> dialog = window->dialog();
    logWindow = window;
    delete window;
    QVERIFY(dialog.isNull());
    QVERIFY(logWindow.isNull());
    // The handler is safe once the window is gone.
    logWindowMessageHandler(QtInfoMsg, QMessageLogContext(), QStringLiteral("after"));
}

QTEST_MAIN(TestLogWindow)
#include "test_log_window.moc"
