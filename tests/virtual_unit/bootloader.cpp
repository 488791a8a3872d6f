#include "bootloader.h"

#include "descriptors.h"

namespace virtual_unit {

namespace {

quint32 le32(const QByteArray& bytes, int at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(bytes.at(at + i));
    return value;
}

Reply answered(const QByteArray& data = QByteArray()) {
    return {Reply::Kind::answered, data};
}

bool one_of(State state, std::initializer_list<State> states) {
    for (const State s : states)
        if (s == state)
            return true;
    return false;
}

} // namespace

Reply Bootloader::request(const Setup& setup, const QByteArray& out) {
    if (gone_)
        return {Reply::Kind::gone, {}};
    switch (static_cast<Request>(setup.request)) {
    case Request::dnload:
        return setup.in() ? stall() : dnload(setup.value, out.left(setup.length));
    case Request::upload:
        return setup.in() ? upload(setup.value, setup.length) : stall();
    case Request::getstatus:
        return getstatus();
    case Request::clrstatus:
        if (state_ != State::error)
            return stall();
        state_ = State::dfu_idle;
        status_ = Status::ok;
        return answered();
    case Request::getstate:
        return answered(QByteArray(1, static_cast<char>(state_)));
    case Request::abort:
        return return_to_idle(
            one_of(state_, {State::dfu_idle, State::dnload_sync, State::dnload_idle,
                            State::manifest_sync, State::upload_idle}));
    default:
        return stall();
    }
}

// A bus reset ends any transfer; after the manifestation it starts the firmware instead.
void Bootloader::usb_reset() {
    ++tally.usb_resets;
    if (one_of(state_, {State::manifest, State::manifest_wait_reset})) {
        left_ = gone_ = true;
        return;
    }
    state_ = State::dfu_idle;
    status_ = Status::ok;
    pending_ = Pending::none;
}

void Bootloader::power_up() {
    state_ = State::dfu_idle;
    status_ = Status::ok;
    pending_ = Pending::none;
    alt_ = 0;
    address_ = 0;
    gone_ = left_ = false;
}

Reply Bootloader::dnload(quint16 block, const QByteArray& data) {
    if (!one_of(state_, {State::dfu_idle, State::dnload_idle}))
        return stall();
    if (data.isEmpty()) { // the end of a download: manifest the firmware, then leave
        if (state_ != State::dnload_idle)
            return stall();
        pending_ = Pending::manifest;
        state_ = State::manifest_sync;
        return answered();
    }
    if (block == 1 || data.size() > transfer_size)
        return stall();
    Reply stopped;
    if (block >= dfuse::first_data_block && fault_stops(data.size(), &stopped))
        return stopped;
    pending_ = block == dfuse::command_block ? Pending::command : Pending::data;
    pending_block_ = block;
    pending_data_ = data;
    state_ = State::dnload_sync;
    return answered();
}

// A fault that strikes the data block about to take the download beyond its bytes.
bool Bootloader::fault_stops(qint64 bytes, Reply* reply) {
    const qint64 after = tally.bytes_written + bytes;
    if (faults.unplug_after_download_bytes >= 0 && after > faults.unplug_after_download_bytes) {
        faults.unplug_after_download_bytes = -1;
        if (faults.unplug_while_busy) {
            unplug_at_poll_ = true;
            return false;
        }
        gone_ = true;
        *reply = {Reply::Kind::gone, {}};
        return true;
    }
    if (faults.hang_after_download_bytes >= 0 && after > faults.hang_after_download_bytes) {
        faults.hang_after_download_bytes = -1;
        *reply = {Reply::Kind::held, {}};
        return true;
    }
    return false;
}

Reply Bootloader::upload(quint16 block, quint16 length) {
    if (!one_of(state_, {State::dfu_idle, State::upload_idle}) || block == 1)
        return stall();
    QByteArray data;
    if (block == dfuse::command_block) {
        for (const quint8 command :
             {dfuse::get_commands, dfuse::set_address, dfuse::erase, dfuse::read_unprotect})
            data.append(static_cast<char>(command));
    } else {
        const qint64 offset = qint64(block - dfuse::first_data_block) * transfer_size;
        if (faults.upload_fails_after_bytes >= 0 && offset >= faults.upload_fails_after_bytes)
            return stall();
        data = memories.read(alt_, address_ + offset, length);
        if (data.isNull())
            return stall();
        const qint64 wrong = faults.wrong_byte_at - (address_ + offset);
        if (alt_ == simulator::flash_alt && wrong >= 0 && wrong < data.size())
            data[static_cast<int>(wrong)] = static_cast<char>(data[static_cast<int>(wrong)] ^ 1);
        ++tally.upload_blocks;
    }
    data.truncate(length);
    // A short frame ends the upload.
    state_ = data.size() < length ? State::dfu_idle : State::upload_idle;
    return answered(data);
}

Reply Bootloader::getstatus() {
    const Clock::time_point now = Clock::now();
    if (unplug_at_poll_) {
        unplug_at_poll_ = false;
        gone_ = true;
        return {Reply::Kind::gone, {}};
    }
    if (state_ == State::dnload_sync) {
        const auto [status, busy_ms] = execute();
        result_ = status;
        if (status != Status::ok && faults.errors_at_once) {
            status_ = status;
            state_ = State::error;
            return status_reply(0);
        }
        busy_until_ = now + std::chrono::milliseconds(busy_ms);
        state_ = State::dnbusy;
        return status_reply(busy_ms);
    }
    if (state_ == State::dnbusy) {
        if (now < busy_until_) {
            ++tally.early_polls;
            return status_reply(static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(busy_until_ - now).count()));
        }
        status_ = result_;
        state_ = result_ == Status::ok ? State::dnload_idle : State::error;
        return status_reply(0);
    }
    if (state_ == State::manifest_sync) {
        // The firmware is manifested and started: the unit answers, then leaves the bus.
        state_ = State::manifest;
        const Reply reply = status_reply(timing.manifest_ms);
        left_ = gone_ = true;
        return reply;
    }
    return status_reply(0);
}

Reply Bootloader::return_to_idle(bool allowed) {
    if (!allowed)
        return stall();
    state_ = State::dfu_idle;
    pending_ = Pending::none;
    return answered();
}

Reply Bootloader::stall() {
    ++tally.stalls;
    state_ = State::error;
    status_ = Status::err_stalled_packet;
    return {Reply::Kind::stalled, {}};
}

Reply Bootloader::status_reply(int poll_ms) {
    QByteArray data(status_length, '\0');
    data[0] = static_cast<char>(state_ == State::dnbusy ? Status::ok : status_);
    data[1] = static_cast<char>(poll_ms & 0xFF);
    data[2] = static_cast<char>((poll_ms >> 8) & 0xFF);
    data[3] = static_cast<char>((poll_ms >> 16) & 0xFF);
    data[4] = static_cast<char>(state_);
    return answered(data);
}

std::pair<Status, int> Bootloader::execute() {
    const Pending pending = pending_;
    pending_ = Pending::none;
    return pending == Pending::command ? command() : write();
}

std::pair<Status, int> Bootloader::command() {
    const QByteArray& c = pending_data_;
    const quint8 code = static_cast<quint8>(c.at(0));
    const bool addressed = c.size() == 5;
    const quint32 address = addressed ? le32(c, 1) : 0;
    if (code == dfuse::set_address && addressed) {
        if (!memories.contains(alt_, address))
            return {Status::err_target, 0};
        address_ = address;
        return {Status::ok, 0};
    }
    if (code == dfuse::erase && addressed) {
        ++tally.page_erases;
        if (faults.erase_fails)
            return {Status::err_erase, timing.erase_page_ms};
        return {memories.erase_page(alt_, address) ? Status::ok : Status::err_target,
                timing.erase_page_ms};
    }
    if (code == dfuse::erase && c.size() == 1) {
        ++tally.mass_erases;
        return {memories.mass_erase(alt_) ? Status::ok : Status::err_target, timing.mass_erase_ms};
    }
    // Read unprotect would mass-erase the unit and reset it: this unit refuses it, as it
    // refuses any other command.
    return {Status::err_target, 0};
}

std::pair<Status, int> Bootloader::write() {
    const qint64 address =
        address_ + qint64(pending_block_ - dfuse::first_data_block) * transfer_size;
    const Status status =
        memories.program(alt_, address, pending_data_, &tally.bytes_over_unerased);
    if (status == Status::ok) {
        ++tally.data_blocks;
        tally.bytes_written += pending_data_.size();
    }
    return {status, timing.write_ms};
}

} // namespace virtual_unit
