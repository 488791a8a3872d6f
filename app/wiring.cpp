#include "app/wiring.h"

#include "app/explanation_words.h"
#include "app/globals.h"
#include "app/log_message_handler.h"
#include "gui/hint_line.h"
#include "gui/install_button.h"
#include "gui/log_window_dialog.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QDebug>
#include <QShortcut>

namespace {

void set_status(const QString& text) {
    if (mainWindow && mainWindow->statusLabel)
        mainWindow->statusLabel->setText(text);
}

QString product_name() {
    return sm_B->device_info.OTP_info.product_name();
}

// The connected unit's product and firmware revision, or that the revision is unknown.
void show_revision_status() {
    const QString revision = sm_B->device_info.FW_revision;
    if (!revision.isEmpty())
        set_status(settings.gui.text("status_devRev").arg(product_name()).arg(revision));
    else
        set_status(settings.gui.text("status_devRevUnknown").arg(product_name()));
}

// The explanation under the status line. dfu-util's words and paths may be of any length: they
// are the values the line shortens to fit.
void show_explanation() {
    if (!mainWindow || !mainWindow->hintLabel)
        return;
    const Explanation e = sm_B->explanation;
    HintLine::Part part;
    part.words = [e](const QStringList& values) {
        Explanation shortened = e;
        shortened.failure.detail = values.value(0);
        shortened.where = values.value(1);
        shortened.why = values.value(2);
        return explanation_words(shortened, settings.gui, settings.desired_type,
                                 settings.desired_revision);
    };
    part.values = QStringList{e.failure.detail, e.where, e.why};
    part.frame = settings.gui.text(QStringLiteral("status_hint"));
    mainWindow->hintLabel->explain(part);
}

// Ends a fill at once, without the bar's own end-of-progress handling (no finished()).
void stop_progress(int value, const QString& format) {
    mainWindow->progressBar->stop_at(value, format);
}

// Stopping (Escape, Q) happens between dfu-util runs, never in one. Never interrupted:
//  - a download (-D): a cut write leaves the unit with a partial image;
//  - the read-back (-U of the whole image): it is what "Firmware is upgraded" rests on.
// The GUI thread waits at most 1 s and kills nothing. A listing or one of the two short reads
// (OTP, information block) under way is given up by the runner at the stop, which is harmless:
// they only read. A transfer under way runs to its end; the window says so, and says what
// came of it once the worker has ended. Only the end of the process kills a transfer, as a
// last resort after a long bound (SM_A's destructor).
bool stop_waits_for_transfer = false;

// The stop texts; the status line shows them for now.
void show_stop_text(const char* id) {
    set_status(settings.gui.text(QLatin1String(id)));
}

void stop_worker() {
    qInfo() << "Trying to stop sm_A";
    if (sm_A->stop_and_wait(1000))
        return;
    if (sm_A->transfer_report().running == SM_A::Transfer::none)
        return; // a short run: it is being given up, the worker ends at once
    qInfo() << "SM_A not dead yet: it stops once the running transfer has finished";
    stop_waits_for_transfer = true;
    show_stop_text("status_stopAfterTransfer");
}

// The worker has ended after a stop that waited for its transfer: what came of it.
void show_stop_outcome() {
    if (!stop_waits_for_transfer)
        return;
    ProgressBar* bar = mainWindow->progressBar;
    switch (sm_A->transfer_report().last) {
    case SM_A::Outcome::matches:
        // The byte-for-byte comparison passed, as in the state that shows this normally.
        stop_progress(bar->maximum(), "Firmware is upgraded");
        show_stop_text("status_stoppedVerified");
        return;
    case SM_A::Outcome::written:
        show_stop_text("status_stoppedWritten");
        break;
    case SM_A::Outcome::write_failed:
        show_stop_text("status_stoppedWriteFailed");
        break;
    case SM_A::Outcome::differs:
        show_stop_text("status_stoppedDiffers");
        break;
    case SM_A::Outcome::none:
        return; // every transfer records its end: cannot happen
    }
    stop_progress(bar->minimum(), QString());
    bar->hide();
}

void reset_message_handler() {
    qInstallMessageHandler(nullptr);
    qInfo() << "Msg-handler reset";
}

void show_connected_status() {
    set_status(settings.gui.text("status_devConn").arg(product_name()));
}

void show_no_unit() {
    set_status(settings.gui.text("status_noDev"));
    mainWindow->progressBar->setFormat("This text should not be visible!");
    mainWindow->progressBar->hide();
}

void start_download_phase() {
    mainWindow->progressBar->start_phase("Upgrading firmware", 60.0);
}

void start_verification_phase() {
    mainWindow->progressBar->start_phase("Uploading & verifying", 0.5);
}

void follow_transfer() {
    mainWindow->progressBar->follow(sm_A->transfer_percent());
}

void show_matches() {
    stop_progress(mainWindow->progressBar->maximum(), "Firmware is upgraded");
    show_revision_status();
}

void show_differs() {
    show_revision_status();
    stop_progress(mainWindow->progressBar->minimum(), "FW differs");
    mainWindow->progressBar->hide();
}

void toggle_log_window() {
    logWindow->toggle_visibility(mainWindow);
}

// Ctrl+L on the given window toggles the log window beside the main window.
void add_log_shortcut(QWidget* window) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, shortcut, &toggle_log_window,
                     Qt::DirectConnection);
}

} // namespace

void add_connections(QApplication* app) {
    MainWindow* window = mainWindow.data();
    const auto direct = Qt::DirectConnection;
    stop_waits_for_transfer = false;

    // Escape or Q stops the workflow; the window stays open. The log window's handler goes
    // first, so that the stop messages reach standard error.
    QObject::connect(window, &MainWindow::finished, window, &reset_message_handler, direct);
    QObject::connect(window, &MainWindow::finished, sm_B, &QStateMachine::stop);
    QObject::connect(window, &MainWindow::finished, window, &stop_worker, direct);
    // The worker emits finished() in its own thread: queued to the window.
    QObject::connect(sm_A, &QThread::finished, window, &show_stop_outcome, Qt::QueuedConnection);
    // The machine has no final state; kept so that one added later ends the program.
    QObject::connect(sm_B, &QState::finished, app, &QCoreApplication::quit);

    QObject::connect(sm_B, &SM_B::sig_UpgradeImpossible, window, &MainWindow::disableDownload);
    QObject::connect(sm_B, &SM_B::sig_UpgradePossible, window, &MainWindow::enableDownload);
    QObject::connect(sm_B, &SM_B::sig_DeviceConnected, sm_B, &show_connected_status, direct);
    QObject::connect(sm_B, &SM_B::sig_DifferingRevision, sm_B, &show_revision_status, direct);
    // After the button is off: the status says so, and the bar goes.
    QObject::connect(sm_B, &SM_B::sig_UpgradeImpossible, window, &show_no_unit);
    QObject::connect(sm_B, &SM_B::sig_ExplanationChanged, sm_B, &show_explanation, direct);

    // The click asks the machine for the download; it acts only in B2 and B7.
    QObject::connect(window->installButton, &QAbstractButton::clicked, sm_B, &SM_B::do_download);
    // The download phase starts when the machine has taken the click (B3), not on the click.
    QObject::connect(sm_B, &SM_B::sig_Upgrading, sm_B, &start_download_phase, direct);
    QObject::connect(sm_B, &SM_B::sig_UploadingVerifying, sm_B, &start_verification_phase, direct);
    // The worker publishes each percent, then signals from its thread: queued to the window,
    // which reads the latest percent when it handles the signal.
    QObject::connect(sm_A, &SM_A::sig_FwProgress, window, &follow_transfer);
    QObject::connect(sm_B, &SM_B::sig_FwMatches, sm_B, &show_matches, direct);
    QObject::connect(sm_B, &SM_B::sig_FwDiffers, sm_B, &show_differs, direct);

    // Ctrl+L from either window.
    add_log_shortcut(window);
    add_log_shortcut(logWindow->dialog());
}
