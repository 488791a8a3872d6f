#include "simulator/program/commands.h"

#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace simulator {

namespace {

// Where the upload starts and how many bytes it reads, with dfu-util's messages.
std::pair<qint64, qint64> upload_range(const Options& options, const Layout& layout) {
    auto [start, limit] = parse_dfuse(options.dfuse);
    if (start >= 0) {
        say_interface_name(options.alt());
        const Segment* segment = find_segment(layout, start, 1);
        if (segment == nullptr)
            fail(ex_ioerr, QString::asprintf("Page at 0x%08llx is not readable", start));
        if (limit == 0) {
            limit = segment->end - start;
            say(QString::asprintf("Limiting upload to end of memory segment, %lld bytes", limit));
        }
    } else {
        start = layout.front().start;
        if (limit == 0) {
            limit = 16384;
            say("Limiting default upload to 16384 bytes");
        }
    }
    // The bootloader answers with fewer bytes at the end of its memory.
    return {start, qBound<qint64>(0, layout.back().end - start, limit)};
}

} // namespace

int upload(const Options& options, Units& units) {
    const Unit unit = open_unit(options, units);
    const int alt = options.alt();
    // dfu-util never overwrites a file.
    const int fd =
        ::open(QFile::encodeName(options.file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        fail(ex_ioerr,
             "Cannot open file " + options.file + " for writing: " + std::strerror(errno));
    const auto [start, limit] = upload_range(options, memory_layout(alt));
    if (alt == flash_alt)
        units.prepare_flash(unit, options.file);
    const QByteArray memory = units.memory(unit, alt);
    const int offset = static_cast<int>(start - memory_base(alt));
    const int have = static_cast<int>(qBound<qint64>(0, memory.size() - offset, limit));
    const QByteArray data =
        memory.mid(offset, have) + QByteArray(static_cast<int>(limit) - have, '\xFF');

    const UploadFault fault = units.upload_fault(unit, alt, start, limit);
    const bool written =
        fault == UploadFault::none &&
        ::write(fd, data.constData(), static_cast<size_t>(data.size())) == data.size();
    ::close(fd);
    if (fault == UploadFault::writes_nothing)
        QFile::remove(options.file);
    Progress bar("Upload", units.upload_ms(alt, start, limit));
    bar.update(0, 1);
    // The unit stalls the first UPLOAD; dfu-util leaves the file it began, empty.
    if (fault == UploadFault::error)
        fail(ex_ioerr, "dfuse_upload: libusb_control_msg returned -9");
    if (fault == UploadFault::none && !written)
        fail(ex_ioerr, "Error during upload");
    // An update after every whole transfer but the last, then the full bar.
    for (qint64 total = transfer_size; total < limit; total += transfer_size)
        bar.update(total, limit);
    bar.update(limit, limit);
    return 0;
}

} // namespace simulator
