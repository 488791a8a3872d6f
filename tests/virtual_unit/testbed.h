#pragma once
// A USB bus of virtual units in the STM32F4 ROM bootloader, at the kernel's interface: umockdev's
// testbed holds the sysfs tree that libusb enumerates (root hub usb1, hubs and units on their
// ports) and the device nodes whose ioctls reach each unit (usbdevfs.h). The real dfu-util and
// its libusb run against it unchanged, preloaded with umockdev's library: a test runs dfu-util
// with dfu_util_environment(), or a program of ours with program_environment(), whose runner
// preloads its dfu-util children alone (dfu/child_environment.h).
//
// Limits of the emulation: a node is a plain file, so libusb polls while a transfer is held (a
// stall costs CPU until libusb's time-out), and umockdev's preload keeps at most 50 emulated open
// files per process. One testbed at a time in a process: it names itself in UMOCKDEV_DIR.

#include "unit.h"
#include "usbdevfs.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct _UMockdevTestbed;

namespace virtual_unit {

class Testbed {
public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Why virtual units cannot run on this machine (umockdev's preload library is missing);
    // empty when they can.
    static QString unavailable();

    // A unit on `port` ("1-1", "1-2", or behind a hub "1-1.3": the hubs are plugged in first),
    // at the bus's next device number. Its memories read erased until the test sets them.
    Unit& plug(const QString& port, const QString& serial);
    // Pulled out: it leaves the bus, and keeps its memories for plugging in again.
    void unplug(const QString& port);
    // The unit of `port` plugged in again, as after a reset or re-enumeration: a new device
    // number, the same memories.
    Unit& replug(const QString& port);
    // Its node may not be opened, as without a USB rule: libusb_open fails (EACCES).
    void deny_access(const QString& port);

    Unit* unit(const QString& port) const;
    int devnum(const QString& port) const;
    bool attached(const QString& port) const;

    // dfu-util itself, preloaded.
    QProcessEnvironment dfu_util_environment() const;
    // A program of ours, which preloads only its dfu-util runs.
    QProcessEnvironment program_environment() const;
    // The same for the runner of this process (a test that wires the program in itself).
    void export_to_this_process() const;

    // One line per request that reached a unit, "port: request -> reply", oldest first (the
    // last 20 000). With ORVANTA_VIRTUAL_UNIT_TRACE set, each is logged too, as it comes.
    QStringList trace() const;

private:
    struct Slot {
        std::shared_ptr<Unit> unit; // null for a hub
        std::unique_ptr<Usbdevfs> node;
        int devnum = 0;
        bool denied = false;
    };

    void add(const QString& port, Slot& slot);
    void remove(const QString& port, Slot& slot);
    void plug_hubs_for(const QString& port);
    void left_the_bus(const QString& port); // on the worker thread
    void record(const QString& line);       // on the worker thread
    void make_unopenable(int devnum) const;
    QString node_path(int devnum) const;
    QString sysfs_path(const QString& port) const;

    _UMockdevTestbed* const testbed_;
    const QString root_;
    // The testbed's calls are made under this lock: the worker thread removes a unit that
    // leaves the bus while the test's thread may plug or unplug others.
    mutable std::mutex bus_mutex_;
    std::map<QString, Slot> slots_;                  // by port; changed on the test's thread only
    std::vector<std::unique_ptr<Usbdevfs>> retired_; // detached nodes, kept to the end
    int next_devnum_;
    const bool echo_trace_;
    mutable std::mutex trace_mutex_; // guards trace_, written by the worker thread
    QStringList trace_;
};

} // namespace virtual_unit
