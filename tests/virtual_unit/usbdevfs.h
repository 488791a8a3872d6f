#pragma once
// A unit's device node as the kernel's usbdevfs offers it to libusb: umockdev hands every ioctl
// that a preloaded dfu-util sends to /dev/bus/usb/001/NNN to this handler, on the testbed's
// worker thread. libusb's Linux backend sends a control transfer as USBDEVFS_SUBMITURB (the
// setup packet, then the data), collects it with USBDEVFS_REAPURBNDELAY (polling: umockdev's node
// is a plain file, always ready) and, when its time-out passes, gives it up with
// USBDEVFS_DISCARDURB; it claims the interface, selects the alternate setting and may reset the
// unit. Every request goes to the unit; what the handler keeps itself (the transfers of each
// open node) is touched on the worker thread alone.

#include "unit.h"

#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <memory>

// umockdev's types, declared here so that its GLib headers stay out of Qt's way (their
// "signals" is Qt's keyword).
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;
struct _UMockdevIoctlData;

namespace virtual_unit {

class Usbdevfs {
public:
    // `on_gone`: called once, on the worker thread, when the unit leaves the bus (unplugged by a
    // fault, or started its firmware); `trace`: one line per request, on the same thread.
    Usbdevfs(std::shared_ptr<Unit> unit, std::function<void()> on_gone,
             std::function<void(const QString&)> trace);
    ~Usbdevfs();
    Usbdevfs(const Usbdevfs&) = delete;
    Usbdevfs& operator=(const Usbdevfs&) = delete;

    _UMockdevIoctlBase* handler() const { return handler_; }

    // For umockdev's signals, on the worker thread.
    void handle(_UMockdevIoctlClient* client, unsigned long request);
    void vanished(_UMockdevIoctlClient* client);

private:
    // The transfers of one open node (one dfu-util process's libusb handle).
    using Urbs = std::deque<_UMockdevIoctlData*>;
    struct Client {
        Urbs done;      // answered, to be reaped
        Urbs held;      // never answered, until discarded
        Urbs discarded; // given up, to be reaped as such
    };

    void capabilities(_UMockdevIoctlClient* client);
    void submit(_UMockdevIoctlClient* client);
    void reap(_UMockdevIoctlClient* client);
    void discard(_UMockdevIoctlClient* client);
    void claim(_UMockdevIoctlClient* client);
    void select_alt(_UMockdevIoctlClient* client);
    void check_gone();

    const std::shared_ptr<Unit> unit_;
    const std::function<void()> on_gone_;
    const std::function<void(const QString&)> trace_;
    _UMockdevIoctlBase* const handler_;
    // The worker thread's alone:
    std::map<_UMockdevIoctlClient*, Client> clients_;
    bool told_gone_ = false;
};

} // namespace virtual_unit
