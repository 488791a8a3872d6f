// GLib's headers before Qt's: their "signals" is Qt's keyword.
#include <umockdev.h>

#include "testbed.h"

#include "descriptors.h"

#include "dfu/child_environment.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace virtual_unit {

namespace {

// After the machine's own devices, as a bench's bus would number them; the root hub is 1.
constexpr int first_devnum = 5;
// A read-only sysctl: not even root may open it for writing.
const char* const unopenable = "/proc/sys/kernel/osrelease";

QString preload_library() {
    return QStringLiteral(ORVANTA_UMOCKDEV_PRELOAD);
}

// What dfu-util preloads: umockdev's library, then the spread of descriptors that keeps the
// emulated netlink sockets of concurrent dfu-util runs apart (fd_spread/fd_spread.c).
QString dfu_util_preload() {
    return preload_library() + QLatin1Char(':') + QStringLiteral(ORVANTA_FD_SPREAD);
}

// The trace keeps the last requests; ORVANTA_VIRTUAL_UNIT_TRACE also writes each to the log.
constexpr int trace_lines = 20000;

// umockdev's complaint, if any, for the test's log; the test then fails on what it misses.
void complain(const char* what, GError* error) {
    if (error == nullptr)
        return;
    qWarning("virtual units: %s: %s", what, error->message);
    g_error_free(error);
}

QString take_string(gchar* text) {
    const QString taken = QString::fromUtf8(text);
    g_free(text);
    return taken;
}

} // namespace

Testbed::Testbed()
    : testbed_(umockdev_testbed_new()), root_(take_string(umockdev_testbed_get_root_dir(testbed_))),
      next_devnum_(first_devnum),
      echo_trace_(qEnvironmentVariableIsSet("ORVANTA_VIRTUAL_UNIT_TRACE")) {
    GError* error = nullptr;
    umockdev_testbed_add_from_string(
        testbed_,
        sysfs_record(QStringLiteral("/devices/usb1"), 1, hub_descriptors(true)).constData(),
        &error);
    complain("the root hub", error);
}

// Every program that used the units has ended: no worker call is under way.
Testbed::~Testbed() {
    for (auto& [port, slot] : slots_)
        if (slot.node)
            umockdev_testbed_detach_ioctl(testbed_, qPrintable(node_path(slot.devnum)), nullptr);
    g_object_unref(testbed_);
}

QString Testbed::unavailable() {
    if (!QFileInfo::exists(preload_library()))
        return QStringLiteral("umockdev's preload library %1 is missing (Debian package umockdev)")
            .arg(preload_library());
    return QString();
}

Unit& Testbed::plug(const QString& port, const QString& serial) {
    plug_hubs_for(port);
    Slot& slot = slots_[port];
    slot.unit = std::make_shared<Unit>(port, serial);
    add(port, slot);
    return *slot.unit;
}

void Testbed::unplug(const QString& port) {
    const auto it = slots_.find(port);
    if (it != slots_.end())
        remove(port, it->second);
}

Unit& Testbed::replug(const QString& port) {
    Slot& slot = slots_.at(port);
    remove(port, slot);
    slot.unit->power_up();
    add(port, slot);
    return *slot.unit;
}

void Testbed::deny_access(const QString& port) {
    Slot& slot = slots_.at(port);
    slot.denied = true;
    make_unopenable(slot.devnum);
}

// The node becomes a link to a file no one may open for writing, so that libusb_open fails with
// EACCES as without a USB rule, also for root (who may open any node of mode 0000).
void Testbed::make_unopenable(int devnum) const {
    const QString node = root_ + node_path(devnum);
    QFile::remove(node);
    QFile::link(QString::fromLatin1(unopenable), node);
}

Unit* Testbed::unit(const QString& port) const {
    const auto it = slots_.find(port);
    return it == slots_.end() ? nullptr : it->second.unit.get();
}

int Testbed::devnum(const QString& port) const {
    const auto it = slots_.find(port);
    return it == slots_.end() ? 0 : it->second.devnum;
}

bool Testbed::attached(const QString& port) const {
    std::lock_guard<std::mutex> lock(bus_mutex_);
    return QFileInfo(root_ + "/sys" + sysfs_path(port)).isDir();
}

QProcessEnvironment Testbed::dfu_util_environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("UMOCKDEV_DIR"), root_);
    environment.insert(QStringLiteral("LD_PRELOAD"), dfu_util_preload());
    return environment;
}

QProcessEnvironment Testbed::program_environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("UMOCKDEV_DIR"), root_);
    environment.insert(QString::fromLatin1(DFU::dfu_util_preload_variable), dfu_util_preload());
    return environment;
}

void Testbed::export_to_this_process() const {
    qputenv("UMOCKDEV_DIR", QFile::encodeName(root_));
    qputenv(DFU::dfu_util_preload_variable, QFile::encodeName(dfu_util_preload()));
}

void Testbed::record(const QString& line) {
    if (echo_trace_)
        qInfo().noquote() << "virtual unit" << line;
    std::lock_guard<std::mutex> lock(trace_mutex_);
    trace_.append(line);
    if (trace_.size() > trace_lines)
        trace_.removeFirst();
}

QStringList Testbed::trace() const {
    std::lock_guard<std::mutex> lock(trace_mutex_);
    return trace_; // a copy, taken under the lock
}

// The node's handler is attached before the device appears: a listing that finds the device
// can always talk to it.
void Testbed::add(const QString& port, Slot& slot) {
    slot.devnum = next_devnum_++;
    std::lock_guard<std::mutex> lock(bus_mutex_);
    GError* error = nullptr;
    if (slot.unit) {
        // The worker thread calls both back; record() takes the trace's own lock.
        slot.node = std::make_unique<Usbdevfs>(
            slot.unit, [this, port] { left_the_bus(port); },
            [this, port](const QString& line) { record(port + ": " + line); });
        umockdev_testbed_attach_ioctl(testbed_, qPrintable(node_path(slot.devnum)),
                                      slot.node->handler(), &error);
        complain(qPrintable(node_path(slot.devnum)), error);
    }
    const QByteArray descriptors = slot.unit
                                       ? bootloader_device_descriptor() + bootloader_configuration()
                                       : hub_descriptors(false);
    umockdev_testbed_add_from_string(
        testbed_, sysfs_record(sysfs_path(port), slot.devnum, descriptors).constData(), &error);
    complain(qPrintable(port), error);
    if (slot.denied)
        make_unopenable(slot.devnum);
}

// The handler is detached but kept until the end: a worker call may still be under way in it.
void Testbed::remove(const QString& port, Slot& slot) {
    std::lock_guard<std::mutex> lock(bus_mutex_);
    if (QFileInfo(root_ + "/sys" + sysfs_path(port)).isDir())
        umockdev_testbed_remove_device(testbed_, qPrintable("/sys" + sysfs_path(port)));
    if (slot.node) {
        umockdev_testbed_detach_ioctl(testbed_, qPrintable(node_path(slot.devnum)), nullptr);
        retired_.push_back(std::move(slot.node));
    }
}

void Testbed::plug_hubs_for(const QString& port) {
    const int dot = port.lastIndexOf('.');
    if (dot < 0)
        return;
    const QString hub = port.left(dot);
    if (slots_.count(hub) != 0)
        return;
    plug_hubs_for(hub);
    add(hub, slots_[hub]);
}

// A fault pulled the unit out, or it started its firmware: it leaves the sysfs tree at once,
// so that the next listing does not find it.
void Testbed::left_the_bus(const QString& port) {
    std::lock_guard<std::mutex> lock(bus_mutex_);
    const QString path = "/sys" + sysfs_path(port);
    if (QFileInfo(root_ + path).isDir())
        umockdev_testbed_remove_device(testbed_, qPrintable(path));
}

QString Testbed::node_path(int devnum) const {
    return QStringLiteral("/dev/bus/usb/001/%1").arg(devnum, 3, 10, QLatin1Char('0'));
}

// "1-1.3" lies under its hub "1-1", which lies under the root hub usb1.
QString Testbed::sysfs_path(const QString& port) const {
    QString path = QStringLiteral("/devices/usb1");
    const QString bus = port.section('-', 0, 0);
    const QStringList hops = port.section('-', 1).split('.');
    for (int i = 0; i < hops.size(); ++i)
        path += '/' + bus + '-' + QStringList(hops.mid(0, i + 1)).join('.');
    return path;
}

} // namespace virtual_unit
