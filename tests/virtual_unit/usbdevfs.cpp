// GLib's headers before Qt's: their "signals" is Qt's keyword.
#include <umockdev.h>

#include "usbdevfs.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace virtual_unit {

namespace {

constexpr int setup_size = 8;

// The data a pointer-sized argument or a structure lies in, resolved into this process. Null
// when the client's memory can no longer be read, as when its dfu-util is ending meanwhile:
// the ioctl then fails as the kernel's does on a bad address.
UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    return data ? umockdev_ioctl_data_resolve(data, offset, length, nullptr) : nullptr;
}

// Completes the ioctl as failed when its data could not be resolved; true then.
bool unresolved(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
    if (data)
        return false;
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return true;
}

Setup setup_of(const guint8* bytes) {
    return {bytes[0], bytes[1], static_cast<quint16>(bytes[2] | bytes[3] << 8),
            static_cast<quint16>(bytes[4] | bytes[5] << 8),
            static_cast<quint16>(bytes[6] | bytes[7] << 8)};
}

const char* request_name(const Setup& setup) {
    static const char* const names[] = {"DETACH",    "DNLOAD",   "UPLOAD", "GETSTATUS",
                                        "CLRSTATUS", "GETSTATE", "ABORT"};
    if (!setup.is_class())
        return setup.request == usb::get_descriptor ? "GET_DESCRIPTOR" : "standard request";
    return setup.request < 7 ? names[setup.request] : "class request";
}

// "DNLOAD wValue=0 [21 00 00 00 08] -> answered [..]": what dfu-util asked and was told.
QString describe(const Setup& setup, const QByteArray& out, const Reply& reply) {
    static const char* const kinds[] = {"answered", "stalled", "gone", "held"};
    QString line = QStringLiteral("%1 wValue=%2 wLength=%3")
                       .arg(QLatin1String(request_name(setup)))
                       .arg(setup.value)
                       .arg(setup.length);
    if (!out.isEmpty())
        line += QStringLiteral(" out[%1]=%2")
                    .arg(out.size())
                    .arg(QString::fromLatin1(out.left(8).toHex(' ')));
    line += QStringLiteral(" -> %1").arg(QLatin1String(kinds[static_cast<int>(reply.kind)]));
    if (!reply.data.isEmpty())
        line += QStringLiteral(" in[%1]=%2")
                    .arg(reply.data.size())
                    .arg(QString::fromLatin1(reply.data.left(8).toHex(' ')));
    return line;
}

void take_all(std::deque<UMockdevIoctlData*>& urbs) {
    for (UMockdevIoctlData* urb : urbs)
        g_object_unref(urb);
    urbs.clear();
}

gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Usbdevfs*>(self)->handle(client, umockdev_ioctl_client_get_request(client));
    return TRUE;
}

void on_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Usbdevfs*>(self)->vanished(client);
}

} // namespace

Usbdevfs::Usbdevfs(std::shared_ptr<Unit> unit, std::function<void()> on_gone,
                   std::function<void(const QString&)> trace)
    : unit_(std::move(unit)), on_gone_(std::move(on_gone)), trace_(std::move(trace)),
      handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(on_vanished), this);
}

// After the testbed let go of the handler: no worker call is under way any more.
Usbdevfs::~Usbdevfs() {
    g_signal_handlers_disconnect_by_data(handler_, this);
    for (auto& [client, transfers] : clients_) {
        take_all(transfers.done);
        take_all(transfers.held);
        take_all(transfers.discarded);
    }
    g_object_unref(handler_);
}

void Usbdevfs::vanished(UMockdevIoctlClient* client) {
    const auto it = clients_.find(client);
    if (it != clients_.end()) {
        take_all(it->second.done);
        take_all(it->second.held);
        take_all(it->second.discarded);
        clients_.erase(it);
    }
}

void Usbdevfs::handle(UMockdevIoctlClient* client, unsigned long request) {
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        reap(client); // also after the unit left: what it answered before is still reaped
        return;
    }
    if (unit_->gone()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        return capabilities(client);
    case USBDEVFS_SUBMITURB:
        return submit(client);
    case USBDEVFS_DISCARDURB:
        return discard(client);
    case USBDEVFS_CLAIMINTERFACE:
        return claim(client);
    case USBDEVFS_SETINTERFACE:
        return select_alt(client);
    case USBDEVFS_RESET:
        trace_(QStringLiteral("USB reset"));
        unit_->usb_reset();
        umockdev_ioctl_client_complete(client, 0, 0);
        return check_gone();
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETCONFIGURATION:
        return umockdev_ioctl_client_complete(client, 0, 0);
    case USBDEVFS_GETDRIVER: // no kernel driver is bound to the interface
    case USBDEVFS_IOCTL:
        return umockdev_ioctl_client_complete(client, -1, ENODATA);
    default:
        trace_(QStringLiteral("ioctl 0x%1 refused").arg(request, 0, 16));
        return umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
}

// What libusb asks of the kernel first: the usbdevfs of a current kernel.
void Usbdevfs::capabilities(UMockdevIoctlClient* client) {
    UMockdevIoctlData* caps = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(guint32));
    if (unresolved(client, caps))
        return;
    *reinterpret_cast<guint32*>(caps->data) =
        USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
        USBDEVFS_CAP_ZERO_PACKET;
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(caps);
}

// The unit answers at once; the reply is synced back with the submission and reaped later.
void Usbdevfs::submit(UMockdevIoctlClient* client) {
    UMockdevIoctlData* urb_data =
        resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    if (unresolved(client, urb_data))
        return;
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urb_data->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < setup_size) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        g_object_unref(urb_data);
        return;
    }
    UMockdevIoctlData* buffer = resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                        static_cast<std::size_t>(urb->buffer_length));
    if (unresolved(client, buffer)) {
        g_object_unref(urb_data);
        return;
    }
    const Setup setup = setup_of(buffer->data);
    const int room = urb->buffer_length - setup_size;
    const QByteArray out =
        setup.in() ? QByteArray()
                   : QByteArray(reinterpret_cast<const char*>(buffer->data) + setup_size,
                                qMin<int>(room, setup.length));
    const Reply reply = unit_->control(setup, out);
    trace_(describe(setup, out, reply));
    if (reply.kind == Reply::Kind::gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        g_object_unref(buffer);
        g_object_unref(urb_data);
        check_gone();
        return;
    }
    const int in = qMin(room, reply.data.size());
    std::memcpy(buffer->data + setup_size, reply.data.constData(), static_cast<std::size_t>(in));
    urb->actual_length = reply.kind == Reply::Kind::stalled ? 0 : setup.in() ? in : out.size();
    urb->status = reply.kind == Reply::Kind::stalled ? -EPIPE : 0;
    Client& transfers = clients_[client];
    (reply.kind == Reply::Kind::held ? transfers.held : transfers.done).push_back(urb_data);
    g_object_unref(buffer);
    umockdev_ioctl_client_complete(client, 0, 0);
    check_gone(); // a unit that left after answering: its reply is still reaped
}

void Usbdevfs::reap(UMockdevIoctlClient* client) {
    Client& transfers = clients_[client];
    std::deque<UMockdevIoctlData*>& from =
        transfers.discarded.empty() ? transfers.done : transfers.discarded;
    if (from.empty()) {
        umockdev_ioctl_client_complete(client, -1, unit_->gone() ? ENODEV : EAGAIN);
        return;
    }
    UMockdevIoctlData* urb_data = from.front();
    from.pop_front();
    UMockdevIoctlData* pointer =
        resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(gpointer));
    if (unresolved(client, pointer)) {
        g_object_unref(urb_data);
        return;
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, urb_data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    g_object_unref(urb_data);
}

// libusb's time-out passed: the held transfer ends as given up (-ENOENT).
void Usbdevfs::discard(UMockdevIoctlClient* client) {
    Client& transfers = clients_[client];
    const gulong address = *reinterpret_cast<gulong*>(umockdev_ioctl_client_get_arg(client)->data);
    for (auto it = transfers.held.begin(); it != transfers.held.end(); ++it) {
        if ((*it)->client_addr != address)
            continue;
        auto* urb = reinterpret_cast<usbdevfs_urb*>((*it)->data);
        urb->status = -ENOENT;
        urb->actual_length = 0;
        transfers.discarded.push_back(*it);
        transfers.held.erase(it);
        trace_(QStringLiteral("transfer discarded after libusb's time-out"));
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

// Only the fault says the interface is taken: umockdev may tell of a closed node only after
// the next process has opened it, so claims of earlier processes are not tracked.
void Usbdevfs::claim(UMockdevIoctlClient* client) {
    const bool taken = unit_->claimed_elsewhere();
    umockdev_ioctl_client_complete(client, taken ? -1 : 0, taken ? EBUSY : 0);
}

void Usbdevfs::select_alt(UMockdevIoctlClient* client) {
    UMockdevIoctlData* data =
        resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_setinterface));
    if (unresolved(client, data))
        return;
    const auto* choice = reinterpret_cast<const usbdevfs_setinterface*>(data->data);
    unit_->select_alt(static_cast<int>(choice->altsetting));
    trace_(QStringLiteral("SET_INTERFACE alt=%1").arg(choice->altsetting));
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(data);
}

void Usbdevfs::check_gone() {
    if (told_gone_ || !unit_->gone())
        return;
    told_gone_ = true;
    trace_(QStringLiteral("the unit left the bus"));
    on_gone_();
}

} // namespace virtual_unit
