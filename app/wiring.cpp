#include "app/wiring.h"

#include "app/explanation_words.h"
#include "app/globals.h"
#include "app/log_message_handler.h"
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

QString product_name() { return sm_B->device_info.OTP_info.product_name(); }

// The connected unit's product and firmware revision, or that the revision is unknown.
void show_revision_status() {
    const QString revision = sm_B->device_info.FW_revision;
    if (!revision.isEmpty())
        set_status(settings.gui.text("status_devRev").arg(product_name()).arg(revision));
    else
        set_status(settings.gui.text("status_devRevUnknown").arg(product_name()));
}

// The explanation under the status line. dfu-util's words and paths may be of any length, and
// the line has no room to wrap: the longest of them is shortened ("…") until the line fits.
// The whole text stays in the line's tooltip.
void show_explanation() {
    QLabel* line = mainWindow ? mainWindow->hintLabel : nullptr;
    if (!line)
        return;
    Explanation e = sm_B->explanation;
    line->setToolTip(explanation_words(e, settings));
    for (;;) {
        const QString words = explanation_words(e, settings);
        line->setText(words.isEmpty()
                          ? QString()
                          : settings.gui.text(QStringLiteral("status_hint")).arg(words.toHtmlEscaped()));
        QString* longest = &e.failure.detail;
        for (QString* s : {&e.where, &e.why})
            if (s->size() > longest->size())
                longest = s;
        if (mainWindow->hintFits() || longest->size() <= 1)
            return;
        *longest = longest->left(longest->size() - 2) + QChar(0x2026);
    }
}

// Ends a fill at once, without the bar's own end-of-progress handling (no finished()).
void stop_progress(int value, const QString& format) {
    ProgressBar* bar = mainWindow->progressBar;
    bar->timer->stop();
    bar->setValue(value);
    bar->setFormat(format);
}

void stop_worker() {
    qInfo() << "Trying to stop sm_A";
    sm_A->stop_and_join(1000, QStringLiteral("Oops, SM_A not dead yet"));
}

} // namespace

void add_connections(QApplication* app) {
    MainWindow* window = mainWindow.data();
    const auto direct = Qt::DirectConnection;

    // 1-3: Escape or Q stops the workflow; the window stays open. The log window's handler
    // goes first, so that the stop messages reach standard error.
    QObject::connect(window, &MainWindow::finished, window, [] {
        qInstallMessageHandler(nullptr);
        qInfo() << "Msg-handler reset";
    }, direct);
    QObject::connect(window, &MainWindow::finished, sm_B, &QStateMachine::stop);
    QObject::connect(window, &MainWindow::finished, window, &stop_worker, direct);
    // 4: the machine has no final state; kept so that one added later ends the program.
    QObject::connect(sm_B, &QState::finished, app, &QCoreApplication::quit);

    // 5-6: the install button follows the workflow.
    QObject::connect(sm_B, &SM_B::sig_UpgradeImpossible, window, &MainWindow::disableDownload);
    QObject::connect(sm_B, &SM_B::sig_UpgradePossible, window, &MainWindow::enableDownload);

    // 7-9: the status line.
    QObject::connect(sm_B, &SM_B::sig_DeviceConnected, sm_B, [] {
        set_status(settings.gui.text("status_devConn").arg(product_name()));
    }, direct);
    QObject::connect(sm_B, &SM_B::sig_DifferingRevision, sm_B, &show_revision_status, direct);
    QObject::connect(sm_B, &SM_B::sig_UpgradeImpossible, window, [] {
        set_status(settings.gui.text("status_noDev"));
        mainWindow->progressBar->setFormat("This text should not be visible!");
        mainWindow->progressBar->hide();
    });

    // The explanation line under the status line follows the machine and the worker.
    QObject::connect(sm_B, &SM_B::sig_ExplanationChanged, sm_B, &show_explanation, direct);

    // 10: the click asks the machine for the download; it acts only in B2 and B7.
    QObject::connect(window->installButton, &QAbstractButton::clicked, sm_B, &SM_B::do_download);

    // 11-14: the progress bar shows download and verification, and their outcome.
    QObject::connect(sm_B, &SM_B::sig_DoDownload, sm_B, [] {
        mainWindow->progressBar->startAutoProgress("Upgrading firmware", 60.0);
    }, direct);
    QObject::connect(sm_B, &SM_B::sig_UploadingVerifying, sm_B, [] {
        mainWindow->progressBar->startAutoProgress("Uploading & verifying", 0.5);
    }, direct);
    QObject::connect(sm_B, &SM_B::sig_FwMatches, sm_B, [] {
        stop_progress(mainWindow->progressBar->maximum(), "Firmware is upgraded");
        show_revision_status();
    }, direct);
    QObject::connect(sm_B, &SM_B::sig_FwDiffers, sm_B, [] {
        show_revision_status();
        stop_progress(mainWindow->progressBar->minimum(), "FW differs");
        mainWindow->progressBar->hide();
    }, direct);

    // 15-16: Ctrl+L toggles the log window from either window.
    auto* on_main = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), window);
    on_main->setContext(Qt::WindowShortcut);
    QObject::connect(on_main, &QShortcut::activated, on_main,
                     [] { logWindow->toggle_visibility(mainWindow); }, direct);
    auto* on_log = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), logWindow->dialog());
    on_log->setContext(Qt::WindowShortcut);
    QObject::connect(on_log, &QShortcut::activated, on_log,
                     [] { logWindow->toggle_visibility(mainWindow); }, direct);
}
