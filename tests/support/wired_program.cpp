#include "wired_program.h"

#include "app/globals.h"
#include "app/history_controller.h"
#include "app/log_message_handler.h"
#include "app/wiring.h"
#include "dfu/runner.h"
#include "gui/log_window.h"
#include "gui/main_window.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QFile>

WiredProgram::WiredProgram(const QString& record_path, const QString& central) {
    for (const char* name : {"firmware.dfu", "firmware.bin"})
        QFile::copy(QStringLiteral(":resources/") + name, dir.filePath(name));
    settings = Settings::Settings{Settings::make_GUI(":resources/settings_GUI.json"), Device::VELK,
                                  QStringLiteral("B8")};
    logWindow = new LogWindow;
    mainWindow = MainWindow_factory(&settings, nullptr, false);
    sm_A = new SM_A(dir.filePath("firmware.dfu"), dir.filePath("firmware.bin"),
                    dir.filePath("uploaded_FW.bin"));
    sm_A->no_device_delay_ms = 20;
    sm_A->connected_delay_ms = 20;
    sm_B = new SM_B(sm_A, settings.desired_type, settings.desired_revision);
    add_connections(qobject_cast<QApplication*>(QCoreApplication::instance()));
    if (!record_path.isEmpty())
        add_history_connections(record_path, false, central);
    QObject::connect(sm_B, &QStateMachine::started, sm_B,
                     [] { sm_A->start(QThread::InheritPriority); });
    sm_B->start();
    mainWindow->show();
}

WiredProgram::~WiredProgram() {
    sm_B->stop();
    sm_A->do_stop();
    finish_history(); // records what the stop left unfinished
    delete sm_A;      // joins the worker
    sm_A = nullptr;
    delete sm_B;
    sm_B = nullptr;
    delete mainWindow.data();
    delete logWindow.data();
    DFU::runner::reset_give_up();
}

namespace wired {

const QString serial = QStringLiteral("3776367B3036");

void attach(FakeDfuUtil& fake, const QByteArray& flash) {
    fake.set_otp(FakeDfuUtil::otp_image({3}), serial);
    fake.set_flash(flash, serial);
    fake.set_units({serial});
}

bool in(QState* state) {
    return sm_B->configuration().contains(state);
}

QString text(const char* id) {
    return settings.gui.text(QLatin1String(id));
}

} // namespace wired
