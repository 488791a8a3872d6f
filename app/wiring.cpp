#include "app/wiring.h"

#include "app/log_message_handler.h"
#include "app/window_program.h"
#include "gui/hint_line.h"
#include "gui/install_button.h"
#include "gui/log_window_dialog.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "upgrade/explanation_words.h"
#include "upgrade/unit_upgrade.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QDebug>
#include <QShortcut>

namespace {

void set_status(WindowProgram& p, const QString& text) {
    if (p.mainWindow && p.mainWindow->statusLabel)
        p.mainWindow->statusLabel->setText(text);
}

QString text(const WindowProgram& p, const char* id) {
    return p.settings.gui.text(QLatin1String(id));
}

QString product_name(const WindowProgram& p) {
    return p.sm_B()->device_info.OTP_info.product_name();
}

// The connected unit's product and firmware revision, or that the revision is unknown.
void show_revision_status(WindowProgram& p) {
    const QString revision = p.sm_B()->device_info.FW_revision;
    if (!revision.isEmpty())
        set_status(p, text(p, "status_devRev").arg(product_name(p)).arg(revision));
    else
        set_status(p, text(p, "status_devRevUnknown").arg(product_name(p)));
}

// The explanation under the status line. dfu-util's words and paths may be of any length: they
// are the values the line shortens to fit.
void show_explanation(WindowProgram& p) {
    if (!p.mainWindow || !p.mainWindow->hintLabel)
        return;
    const Explanation e = p.sm_B()->explanation;
    const Settings::Settings& s = p.settings;
    HintLine::Part part;
    part.words = [e, &s](const QStringList& values) {
        Explanation shortened = e;
        shortened.failure.detail = values.value(0);
        shortened.where = values.value(1);
        shortened.why = values.value(2);
        return explanation_words(shortened, s.gui, s.desired_type, s.desired_revision);
    };
    part.values = QStringList{e.failure.detail, e.where, e.why};
    part.frame = text(p, "status_hint");
    p.mainWindow->hintLabel->explain(part);
}

// Ends a fill at once, without the bar's own end-of-progress handling (no finished()).
void stop_progress(WindowProgram& p, int value, const QString& format) {
    p.mainWindow->progressBar->stop_at(value, format);
}

// Escape or Q: the unit's upgrade stops between dfu-util runs (UnitUpgrade::stop says which
// runs are never cut). The GUI thread waits at most 1 s and kills nothing: a transfer under way
// runs to its end; the window says so, and says what came of it once the worker has ended.
void stop_worker(WindowProgram& p) {
    qInfo() << "Trying to stop sm_A";
    if (p.upgrade->stop(1000))
        return;
    if (p.sm_A()->transfer_report().running == SM_A::Transfer::none)
        return; // a short run: it is being given up, the worker ends at once
    qInfo() << "SM_A not dead yet: it stops once the running transfer has finished";
    p.stop_waits_for_transfer = true;
    set_status(p, text(p, "status_stopAfterTransfer"));
}

// The stop texts; the status line shows them for now. Null: what came of it needs none.
const char* stop_text(SM_A::Outcome outcome) {
    switch (outcome) {
    case SM_A::Outcome::matches:
        return "status_stoppedVerified";
    case SM_A::Outcome::written:
        return "status_stoppedWritten";
    case SM_A::Outcome::write_failed:
        return "status_stoppedWriteFailed";
    case SM_A::Outcome::differs:
        return "status_stoppedDiffers";
    case SM_A::Outcome::none:
        break; // every transfer records its end: cannot happen
    }
    return nullptr;
}

// The worker has ended after a stop that waited for its transfer: what came of it.
void show_stop_outcome(WindowProgram& p) {
    if (!p.stop_waits_for_transfer || !p.sm_A())
        return;
    const SM_A::Outcome last = p.sm_A()->transfer_report().last;
    const char* id = stop_text(last);
    if (!id)
        return;
    ProgressBar* bar = p.mainWindow->progressBar;
    set_status(p, text(p, id));
    if (last == SM_A::Outcome::matches) {
        // The byte-for-byte comparison passed, as in the state that shows this normally.
        stop_progress(p, bar->maximum(), "Firmware is upgraded");
        return;
    }
    stop_progress(p, bar->minimum(), QString());
    bar->hide();
}

void reset_message_handler() {
    qInstallMessageHandler(nullptr);
    qInfo() << "Msg-handler reset";
}

void show_no_unit(WindowProgram& p) {
    set_status(p, text(p, "status_noDev"));
    p.mainWindow->progressBar->setFormat("This text should not be visible!");
    p.mainWindow->progressBar->hide();
}

void show_matches(WindowProgram& p) {
    stop_progress(p, p.mainWindow->progressBar->maximum(), "Firmware is upgraded");
    show_revision_status(p);
}

void show_differs(WindowProgram& p) {
    show_revision_status(p);
    stop_progress(p, p.mainWindow->progressBar->minimum(), "FW differs");
    p.mainWindow->progressBar->hide();
}

// Ctrl+L on the given window toggles the log window beside the main window.
void add_log_shortcut(QWidget* window, MainWindow* main_window) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(
        shortcut, &QShortcut::activated, shortcut,
        [main_window] { logWindow->toggle_visibility(main_window); }, Qt::DirectConnection);
}

// Escape or Q stops the workflow; the window stays open. The log window's handler goes first,
// so that the stop messages reach standard error.
void connect_stop(QApplication* app, WindowProgram& p) {
    MainWindow* window = p.mainWindow.data();
    const auto direct = Qt::DirectConnection;
    QObject::connect(window, &MainWindow::finished, window, &reset_message_handler, direct);
    QObject::connect(window, &MainWindow::finished, window, [&p] { stop_worker(p); }, direct);
    // The worker emits finished() in its own thread: queued to the window.
    QObject::connect(
        p.sm_A(), &QThread::finished, window, [&p] { show_stop_outcome(p); },
        Qt::QueuedConnection);
    // The machine has no final state; kept so that one added later ends the program.
    QObject::connect(p.sm_B(), &QState::finished, app, &QCoreApplication::quit);
}

} // namespace

void add_connections(QApplication* app, WindowProgram& p) {
    MainWindow* window = p.mainWindow.data();
    SM_B* b = p.sm_B();
    const auto direct = Qt::DirectConnection;
    p.stop_waits_for_transfer = false;
    connect_stop(app, p);

    QObject::connect(b, &SM_B::sig_UpgradeImpossible, window, &MainWindow::disableDownload);
    QObject::connect(b, &SM_B::sig_UpgradePossible, window, &MainWindow::enableDownload);
    QObject::connect(
        b, &SM_B::sig_DeviceConnected, b,
        [&p] { set_status(p, text(p, "status_devConn").arg(product_name(p))); }, direct);
    QObject::connect(b, &SM_B::sig_DifferingRevision, b, [&p] { show_revision_status(p); }, direct);
    // After the button is off: the status says so, and the bar goes.
    QObject::connect(b, &SM_B::sig_UpgradeImpossible, window, [&p] { show_no_unit(p); });
    QObject::connect(b, &SM_B::sig_ExplanationChanged, b, [&p] { show_explanation(p); }, direct);

    // The click asks the machine for the download; it acts only in B2 and B7.
    QObject::connect(window->installButton, &QAbstractButton::clicked, b, &SM_B::do_download);
    // The download phase starts when the machine has taken the click (B3), not on the click.
    QObject::connect(
        b, &SM_B::sig_Upgrading, b,
        [window] { window->progressBar->start_phase("Upgrading firmware", 60.0); }, direct);
    QObject::connect(
        b, &SM_B::sig_UploadingVerifying, b,
        [window] { window->progressBar->start_phase("Uploading & verifying", 0.5); }, direct);
    // The worker publishes each percent, then signals from its thread: queued to the window,
    // which reads the latest percent when it handles the signal.
    SM_A* a = p.sm_A();
    QObject::connect(a, &SM_A::sig_FwProgress, window,
                     [window, a] { window->progressBar->follow(a->transfer_percent()); });
    QObject::connect(b, &SM_B::sig_FwMatches, b, [&p] { show_matches(p); }, direct);
    QObject::connect(b, &SM_B::sig_FwDiffers, b, [&p] { show_differs(p); }, direct);

    // Ctrl+L from either window.
    add_log_shortcut(window, window);
    add_log_shortcut(logWindow->dialog(), window);
}
