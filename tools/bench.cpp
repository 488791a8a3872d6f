// The measurements behind tools/bench.sh (a benchmark, not a test). Each mode prints
// "name value unit" lines on standard output; everything the measured programs log goes to
// standard error.
//
//   orvanta_bench config NAME
//       chooses the simulator's prepared configuration NAME (state: ORVANTA_SIMULATOR_STATE_DIR)
//   orvanta_bench process NAME IDLE_S MARKER PROGRAM [ARGUMENTS...]
//       starts PROGRAM three times: start-up to MARKER on its standard error (median), peak
//       RSS (median), and, over IDLE_S seconds after the last start-up, the CPU of the program
//       and the children it has reaped, as a share of one core
//   orvanta_bench upgrade
//       the program in simulator mode (fast progress), built in this process as start-up
//       builds it: the time from the click on the install button to "Firmware is upgraded",
//       against the same dfu-util runs made one after the other through the runner
//   orvanta_bench record_write | record_filter | central_ship
//       the upgrade record's figures (tools/bench_record.cpp)

#include "tools/bench.h"

#include "app/startup.h"
#include "dfu/command.h"
#include "dfu/firmware_transfer.h"
#include "dfu/runner.h"
#include "files/files.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "simulator/simulator.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QMap>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unistd.h>
#include <vector>

void Bench::print(const QString& name, double value, const char* unit) {
    std::printf("%s %.*f %s\n", qPrintable(name), value == qint64(value) ? 0 : 2, value, unit);
    std::fflush(stdout);
}

namespace {

// The program under test, as start-up made it.
std::unique_ptr<WindowProgram> owned_program;
WindowProgram* program = nullptr;

using Bench::bound_ms;
using Bench::print;

// Fields of /proc/<pid>/stat, in clock ticks: utime + stime (the program itself) and, with
// children, + cutime + cstime (the children it has reaped).
qint64 cpu_ticks(qint64 pid, bool with_children) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The command name is in parentheses and may hold blanks: count from after it.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return -1;
    qint64 sum = 0;
    for (int field = 14; field <= (with_children ? 17 : 15); ++field) // numbered as in proc(5)
        sum += fields[field - 3].toLongLong();
    return sum;
}

// VmHWM (peak resident set) of /proc/<pid>/status, in kB.
qint64 peak_rss_kb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Waits until `done` holds, handling events; false after the bound.
template <typename Done> bool wait_until(Done done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.hasExpired(bound_ms))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

int config(const QString& name) {
    simulator::setup_for_simulated_dfu_util(simulator::Setup::normal);
    return simulator::sim_setup_prepared_config(name) == 0 ? 0 : 1;
}

// Reads the program's standard error until it says the marker; false when it ends or the
// bound passes first.
bool wait_for_marker(QProcess& p, const QByteArray& marker, const QString& program) {
    QElapsedTimer clock;
    clock.start();
    QByteArray err;
    while (!err.contains(marker)) {
        if (p.state() == QProcess::NotRunning || clock.hasExpired(bound_ms)) {
            std::fprintf(stderr, "%s never said \"%s\"\n%s", qPrintable(program),
                         marker.constData(), err.constData());
            return false;
        }
        p.waitForReadyRead(5);
        err += p.readAllStandardError();
    }
    return true;
}

void print_idle_cpu(QProcess& p, const QString& name, int idle_s) {
    const qint64 before = cpu_ticks(p.processId(), true);
    const qint64 before_self = cpu_ticks(p.processId(), false);
    QElapsedTimer idle;
    idle.start();
    // Standard error keeps being read, so that the program never blocks on it.
    while (!idle.hasExpired(qint64(idle_s) * 1000)) {
        p.waitForReadyRead(200);
        p.readAllStandardError();
    }
    const double ticks = double(cpu_ticks(p.processId(), true) - before);
    const double self = double(cpu_ticks(p.processId(), false) - before_self);
    const double core_ticks = double(sysconf(_SC_CLK_TCK)) * double(idle.elapsed()) / 1000;
    print(QStringLiteral("idle_cpu_") + name, qRound(10000 * ticks / core_ticks) / 100.0, "%core");
    print(QStringLiteral("idle_cpu_") + name + QStringLiteral("_itself"),
          qRound(10000 * self / core_ticks) / 100.0, "%core");
}

int process(const QString& name, int idle_s, const QByteArray& marker, const QString& program,
            const QStringList& arguments) {
    std::vector<double> startups;
    std::vector<double> rss;
    constexpr int starts = 3;
    for (int i = 0; i < starts; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer clock;
        clock.start();
        p.start(program, arguments);
        if (!wait_for_marker(p, marker, program))
            return 1;
        startups.push_back(double(clock.elapsed()));
        if (i == starts - 1 && idle_s > 0)
            print_idle_cpu(p, name, idle_s);
        else
            QThread::msleep(500); // settled
        rss.push_back(double(peak_rss_kb(p.processId())));
        p.terminate();
        if (!p.waitForFinished(bound_ms)) {
            p.kill();
            p.waitForFinished(bound_ms);
        }
    }
    print(QStringLiteral("startup_") + name, median(startups), "ms");
    print(QStringLiteral("rss_") + name, median(rss), "kB");
    return 0;
}

// The program built in this process, in simulator mode: from the click on the install button
// to "Firmware is upgraded" (B6) in ms, or -1 when it never gets there; counts the listings.
qint64 click_to_success_ms(std::atomic<int>* scans) {
    if (simulator::sim_setup_prepared_config(QStringLiteral("older_revision")) != 0)
        return -1;
    if (!wait_until([] {
            return program->sm_B()->configuration().contains(program->sm_B()->B2) &&
                   program->mainWindow->installButton->isEnabled();
        }))
        return -1;

    QObject::connect(
        program->sm_A(), &SM_A::sig_scanning, program->sm_A(), [scans] { ++*scans; }, Qt::DirectConnection);
    QElapsedTimer clock;
    qint64 click_to_success = -1;
    const auto reached = QObject::connect(program->sm_B()->B6, &QState::entered, program->sm_B()->B6,
                                          [&] { click_to_success = clock.elapsed(); });
    clock.start();
    program->mainWindow->installButton->click();
    const bool done = wait_until([&] { return click_to_success >= 0; });
    QObject::disconnect(reached); // it refers to this function's clock
    return done ? click_to_success : -1;
}

// The dfu-util runs of one upgrade with its listings, one after the other through the runner.
qint64 direct_runs_ms(int listings) {
    QTemporaryDir out;
    const int size = DFU::size_of_binary_file(Files::path_of(Files::desired_FW_fileName_bin));
    QElapsedTimer direct;
    direct.start();
    DFU::run_command(DFU::CmdID::download_FW, {Files::path_of(Files::desired_FW_fileName_dfu)});
    for (int i = 0; i < listings; ++i)
        DFU::run_command(DFU::CmdID::list, {});
    DFU::run_command(DFU::CmdID::upload_OTP, {out.filePath("otp.bin")});
    DFU::run_command(DFU::CmdID::upload_FW_info, {out.filePath("info.bin")});
    DFU::run_command(DFU::CmdID::upload_FW,
                     {QStringLiteral("-s"),
                      Device::memory_map::region_text(Device::memory_map::flash_base, size),
                      QStringLiteral("-U"), out.filePath("fw.bin")});
    return direct.elapsed();
}

int upgrade(char* argv0) {
    QTemporaryDir state;
    qputenv("ORVANTA_SIMULATOR_STATE_DIR", QFile::encodeName(state.path()));
    // Its upgrades are not recorded in the user's home.
    qputenv("XDG_DATA_HOME", QFile::encodeName(state.path()));
    int app_argc = 2;
    char simulator_switch[] = "-s";
    char* app_argv[] = {argv0, simulator_switch, nullptr};
    QApplication app(app_argc, app_argv);
    // Fast simulated transfers: the figure is the program's own time, not the unit's.
    owned_program = GUI_init(StartupOptions{simulator::Setup::fast_progress});
    program = owned_program.get();
    std::atomic<int> scans{0};
    const qint64 click_to_success = click_to_success_ms(&scans);
    if (click_to_success < 0)
        return 1;
    const int listings = scans;
    program->sm_B()->stop();
    program->sm_A()->stop_and_wait(bound_ms);

    const qint64 direct_ms = direct_runs_ms(listings);
    print(QStringLiteral("upgrade_click_to_success"), double(click_to_success), "ms");
    print(QStringLiteral("upgrade_direct_runs"), double(direct_ms), "ms");
    print(QStringLiteral("upgrade_overhead"), double(click_to_success - direct_ms), "ms");
    GUI_cleanup(*program, 0);
    owned_program.reset();
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("upgrade"))
        return upgrade(argv[0]);
    const QMap<QString, int (*)()> in_gui_loop{{QStringLiteral("record_write"), &Bench::record_write},
                                               {QStringLiteral("record_filter"), &Bench::record_filter},
                                               {QStringLiteral("central_ship"), &Bench::central_ship}};
    if (in_gui_loop.contains(mode)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv); // a real GUI event loop, whose stalls are measured
        return in_gui_loop.value(mode)();
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (mode == QLatin1String("config") && args.size() == 3)
        return config(args[2]);
    if (mode == QLatin1String("process") && args.size() >= 6)
        return process(args[2], args[3].toInt(), args[4].toLocal8Bit(), args[5], args.mid(6));
    std::fputs("usage: orvanta_bench config NAME | process NAME IDLE_S MARKER PROGRAM [ARGS...] | "
               "upgrade | record_write | record_filter | central_ship\n",
               stderr);
    return 64;
}
