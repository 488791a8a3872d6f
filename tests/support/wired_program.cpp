#include "wired_program.h"

#include "app/history_controller.h"
#include "app/log_message_handler.h"
#include "app/window_program.h"
#include "dfu/runner.h"
#include "gui/log_window.h"
#include "gui/main_window.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>

namespace {
WindowProgram* living = nullptr;
} // namespace

WiredProgram::WiredProgram(const QString& record_path, const QString& central) {
    // The carried firmware in the extraction directory, as start-up extracts it.
    Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin}, true);
    logWindow = new LogWindow;
    WindowSetup setup;
    setup.options.no_device_delay_ms = 20;
    setup.options.connected_delay_ms = 20;
    setup.record_path = record_path;
    setup.central_connection = central;
    program_ = make_window_program(
        Settings::Settings{Settings::make_GUI(":resources/settings_GUI.json"), Device::VELK,
                           QStringLiteral("B8")},
        setup);
    living = program_.get();
}

WiredProgram::~WiredProgram() {
    program_->finish(); // records what the stop left unfinished, joins the worker
    delete program_->mainWindow.data();
    program_.reset();
    living = nullptr;
    delete logWindow.data();
    DFU::runner::reset_give_up();
}

namespace wired {

const QString serial = QStringLiteral("3776367B3036");

SM_A* sm_A() {
    return living->sm_A();
}

SM_B* sm_B() {
    return living->sm_B();
}

MainWindow* main_window() {
    return living->mainWindow;
}

HistoryWindow* history_window() {
    return ::history_window(*living);
}

void attach(FakeDfuUtil& fake, const QByteArray& flash) {
    fake.set_otp(FakeDfuUtil::otp_image({3}), serial);
    fake.set_flash(flash, serial);
    fake.set_units({serial});
}

bool in(QState* state) {
    return sm_B()->configuration().contains(state);
}

QString text(const char* id) {
    return living->settings.gui.text(QLatin1String(id));
}

} // namespace wired
