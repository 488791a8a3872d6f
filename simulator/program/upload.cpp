#include "simulator/program/commands.h"

#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/progress.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace simulator {

namespace {

constexpr qint64 default_upload_limit = 16384;

// dfu-util never overwrites a file: it creates the file, or ends the run.
int create_new_file(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        fail(ex_ioerr, QStringLiteral("Cannot open file %1 for writing: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return fd;
}

bool write_all(int fd, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Where the upload starts and how many bytes it reads, with dfu-util's messages.
void choose_range(const Options& options, const Layout& layout, qint64* start, qint64* limit) {
    const DfuseOptions dfuse = parse_dfuse_options(options.dfuse_options);
    *limit = dfuse.length;
    if (dfuse.address >= 0) {
        say_interface_name(options.alt());
        const Segment* segment = find_segment(layout, dfuse.address);
        if (segment == nullptr || !segment->readable())
            fail(ex_ioerr,
                 QStringLiteral("Page at %1 is not readable").arg(hex_address(dfuse.address)));
        if (*limit == 0) {
            *limit = segment->end - dfuse.address;
            say(QStringLiteral("Limiting upload to end of memory segment, %1 bytes").arg(*limit));
        }
        *start = dfuse.address;
    } else {
        if (*limit == 0) {
            *limit = default_upload_limit;
            say(QStringLiteral("Limiting default upload to %1 bytes").arg(*limit));
        }
        *start = layout.front().start;
    }
    // The bootloader answers with fewer bytes at the end of its memory.
    const qint64 end = layout.back().end;
    if (*start + *limit > end)
        *limit = qMax<qint64>(0, end - *start);
}

} // namespace

int upload(const Options& options, Units& units) {
    const Unit unit = open_unit(options, units);
    const int alt = options.alt();
    const int fd = create_new_file(options.file);
    const Layout layout = memory_layout(alt);
    qint64 start = 0;
    qint64 limit = 0;
    choose_range(options, layout, &start, &limit);

    if (alt == flash_alt)
        units.prepare_flash(unit, options.file);
    const QByteArray memory = units.memory(unit, alt);
    const qint64 offset = start - memory_base(alt);
    const qint64 have = qBound<qint64>(0, memory.size() - offset, limit);
    const QByteArray data = memory.mid(static_cast<int>(offset), static_cast<int>(have)) +
                            QByteArray(static_cast<int>(limit - have), '\xFF');

    const UploadFault fault = units.upload_fault(unit, alt, start, limit);
    Progress bar(QStringLiteral("Upload"), units.upload_ms(alt, start, limit));
    bar.update(0, 1);
    if (fault == UploadFault::error) {
        ::close(fd);
        if (!units.failed_upload_leaves_file())
            QFile::remove(options.file);
        fail(ex_ioerr, QStringLiteral("Error during upload"));
    }
    const bool written = fault == UploadFault::none && write_all(fd, data);
    ::close(fd);
    if (fault == UploadFault::writes_nothing)
        QFile::remove(options.file);
    else if (!written)
        fail(ex_ioerr, QStringLiteral("Short file write: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));

    qint64 total = 0;
    for (;;) {
        const qint64 chunk = qMin<qint64>(limit - total, transfer_size);
        total += chunk;
        if (chunk < transfer_size || total >= limit)
            break;
        bar.update(total, limit);
    }
    bar.update(total, total);
    return 0;
}

} // namespace simulator
