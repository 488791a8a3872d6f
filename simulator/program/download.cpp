#include "simulator/program/commands.h"

#include "dfu/dfuse_file.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>

namespace simulator {

namespace {

using namespace DFU::DfuSe;

// A file to download as dfu-util 0.9 loads it: a file without a valid suffix is still loaded,
// with two warnings.
struct DfuFile {
    QByteArray bytes;
    int suffix_length = 0; // 0 without a valid suffix
    quint16 dfu_version = 0;
    int vendor = 0xffff; // 0xffff: any
    int product = 0xffff;
};

DfuFile load(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        fail(ex_ioerr,
             "Could not open file " + path + " for reading: " +
                 (QFileInfo::exists(path) ? "Permission denied" : "No such file or directory"));
    DfuFile f{file.readAll()};
    const std::optional<Suffix> suffix = read_suffix(f.bytes);
    const char* missing = !suffix                                 ? "File too short for DFU suffix"
                          : suffix->signature != suffix_signature ? "Invalid DFU suffix signature"
                          : suffix->crc != suffix_crc(f.bytes.chopped(4))
                              ? "DFU suffix CRC does not match"
                              : nullptr;
    if (missing) {
        warn(missing);
        warn("A valid DFU suffix will be required in a future dfu-util release!!!");
        return f;
    }
    if (suffix->length < suffix_size)
        fail(ex_ioerr, QString::asprintf("Unsupported DFU suffix length %d", suffix->length));
    if (suffix->length > f.bytes.size())
        fail(ex_ioerr, QString::asprintf("Invalid DFU suffix length %d", suffix->length));
    return {f.bytes, suffix->length, suffix->dfu_version, suffix->vendor, suffix->product};
}

// How far the walk through a DfuSe file has got: the offset and the bytes left after it.
struct Cursor {
    int pos = 0;
    qint64 rem = 0;

    void skip(qint64 bytes) {
        pos += static_cast<int>(bytes);
        rem -= bytes;
    }
    [[noreturn]] void corrupt(int needed) const {
        fail(ex_ioerr, QString::asprintf("Corrupt DfuSe file: Cannot read %d bytes from %lld bytes",
                                         needed, rem));
    }
};

// dfu-util's words for a unit that went during a transfer (LIBUSB_ERROR_NO_DEVICE).
[[noreturn]] void unit_gone() {
    fail(ex_ioerr, "dfuse_download: libusb_control_transfer returned -4");
}

// One run of -D into the opened unit: the elements of its alternate setting, page by page,
// erasing each page as the writing reaches it, as the bootloader does. A fault ends the run in
// the first element written.
class Download {
public:
    Download(Units& units, const Unit& unit, int alt)
        : units_(units), unit_(unit), alt_(alt), layout_(memory_layout(alt)),
          fault_(units.download_fault(unit)) {}

    void element(const QByteArray& data, qint64 address) {
        const qint64 size = data.size();
        if (find_segment(layout_, address + size - 1, 4) == nullptr || alt_ != flash_alt)
            fail(ex_ioerr,
                 QString::asprintf("Last page at 0x%08llx is not writeable", address + size - 1));
        const Segment* first = find_segment(layout_, address, 4);
        const qint64 erased_from = first ? first->page_end(address) - first->page : address;
        qint64 erased_to = erased_from;
        const auto flash = [&](qint64 bytes) {
            return program_flash(units_.memory(unit_, flash_alt),
                                 data.left(static_cast<int>(bytes)), address - flash_base,
                                 erased_from - flash_base, erased_to - flash_base);
        };
        const qint64 cut = size * 2 / 5 / transfer_size * transfer_size; // a lost unit's 40 %
        Progress bar("Download", units_.download_ms(size));
        bar.update(0, 1);
        for (qint64 p = 0; p < size; p += transfer_size) {
            const qint64 last = address + qMin<qint64>(size, p + transfer_size) - 1;
            if (find_segment(layout_, address + p, 4) == nullptr)
                fail(ex_ioerr, QString::asprintf("Page at 0x%08llx is not writeable", address + p));
            bar.update(p, size);
            if (const Segment* s = find_segment(layout_, last, 0))
                erased_to = s->page_end(last);
            if (p == 0)
                strike_first();
            if (p == cut && unplugged()) {
                // Unplugged while this transfer's page was erased: the ones before it are written.
                units_.lose(unit_, flash(p), fault_);
                unit_gone();
            }
            if (p == cut && fault_ == DownloadFault::crash) {
                std::signal(SIGSEGV, SIG_DFL);
                std::raise(SIGSEGV);
            }
        }
        bar.update(size, size);
        // Pulled out meanwhile, or replaced (another at its port, a configuration set up).
        if (fault_ != DownloadFault::keeps_flash && !units_.store_flash(unit_, flash(size)))
            unit_gone();
    }

    // The targets and elements of a DfuSe file, as dfu-util 0.9 walks them with its messages.
    void walk(const QByteArray& payload) {
        const Prefix prefix = checked_prefix(payload);
        Cursor at{prefix_size, payload.size() - prefix_size};
        say(QString::asprintf("file contains %d DFU images", prefix.targets));
        for (int image = 1; image <= prefix.targets; ++image)
            walk_target(payload, image, at);
        if (at.rem != 0)
            warn(QString::asprintf("%lld bytes leftover", at.rem));
        say("done parsing DfuSe file");
    }

private:
    // The file's prefix; a file too small for one target with one element, or whose prefix is
    // not DfuSe's, ends the run.
    static Prefix checked_prefix(const QByteArray& payload) {
        if (payload.size() < prefix_size + target_prefix_size + element_header_size)
            fail(ex_software, "File too small for a DfuSe file");
        const Prefix prefix = *read_prefix(payload);
        if (prefix.signature != prefix_signature)
            fail(ex_ioerr, "No valid DfuSe signature");
        if (prefix.format_version != 1)
            fail(ex_ioerr,
                 QString::asprintf("DFU format revision %d not supported", prefix.format_version));
        return prefix;
    }

    // One image: its target prefix, then its elements. Only those of the alternate setting
    // being downloaded are written; the others are walked over.
    void walk_target(const QByteArray& payload, int image, Cursor& at) {
        say(QString::asprintf("parsing DFU image %d", image));
        const std::optional<TargetPrefix> target = read_target_prefix(payload, at.pos);
        if (!target)
            at.corrupt(target_prefix_size);
        if (target->signature != target_signature)
            fail(ex_ioerr, "No valid target signature");
        say(QString::asprintf("image for alternate setting %d, (%u elements, total size = %u)",
                              target->alternate_setting, target->elements, target->size));
        if (target->alternate_setting != alt_)
            say("Warning: Image does not match current alternate setting.\nPlease rerun with "
                "the correct -a option setting to download this image!");
        at.skip(target_prefix_size);
        for (quint32 e = 1; e <= target->elements; ++e)
            walk_element(payload, e, target->alternate_setting == alt_, at);
    }

    void walk_element(const QByteArray& payload, quint32 number, bool written, Cursor& at) {
        out(QByteArray("parsing element ") + QByteArray::number(number) + ", ");
        const std::optional<ElementHeader> header = read_element_header(payload, at.pos);
        if (!header)
            at.corrupt(element_header_size);
        say(QString::asprintf("address = 0x%08x, size = %u", header->address, header->size));
        at.skip(element_header_size);
        if (header->size > at.rem)
            fail(ex_software, "File too small for element size");
        if (written)
            element(payload.mid(at.pos, static_cast<int>(header->size)), header->address);
        at.skip(header->size);
    }

    bool unplugged() const {
        return fault_ == DownloadFault::lost || fault_ == DownloadFault::lost_for_good;
    }

    // A unit that refuses the erase at once answers dfuERROR to the first GETSTATUS; one that
    // fails it reports so after its busy time.
    void strike_first() {
        if (fault_ == DownloadFault::erase_refused) {
            say("state(10) = dfuERROR, status(4) = Memory erase function failed");
            fail(ex_ioerr, "Wrong state after command \"ERASE_PAGE\" download");
        }
        if (fault_ == DownloadFault::error)
            fail(ex_ioerr, "ERASE_PAGE not correctly executed");
        if (fault_ == DownloadFault::refused)
            fail(ex_ioerr, "dfuse_download: libusb_control_transfer returned -9");
    }

    Units& units_;
    const Unit unit_;
    const int alt_;
    const Layout layout_;
    const DownloadFault fault_;
};

} // namespace

int download(const Options& options, Units& units) {
    const DfuFile file = load(options.file);
    Options matched = options;
    if (matched.vendor < 0 && file.vendor != 0xffff) {
        matched.vendor = file.vendor;
        say(QString::asprintf("Match vendor ID from file: %04x", file.vendor));
    }
    if (matched.product < 0 && file.product != 0xffff) {
        matched.product = file.product;
        say(QString::asprintf("Match product ID from file: %04x", file.product));
    }
    const Unit unit = open_unit(matched, units);
    if ((file.vendor != 0xffff && file.vendor != 0x0483) ||
        (file.product != 0xffff && file.product != 0xdf11))
        fail(ex_ioerr, QString::asprintf("Error: File ID %04x:%04x does not match device "
                                         "(0483:df11 or 0483:df11)",
                                         file.vendor, file.product));
    const qint64 address = parse_dfuse(options.dfuse).first;
    say_interface_name(options.alt());
    units.prepare_flash(unit, options.file);
    Download run(units, unit, options.alt());
    const QByteArray payload = file.bytes.chopped(file.suffix_length);
    if (address >= 0) {
        if (file.dfu_version == dfuse_bcd_dfu)
            fail(ex_ioerr, "This is a DfuSe file, not meant for raw download");
        say(QString::asprintf("Downloading to address = 0x%08llx, size = %d", address,
                              payload.size()));
        run.element(payload, address);
        say("File downloaded successfully");
    } else {
        if (file.dfu_version != dfuse_bcd_dfu) {
            warn("Only DfuSe file version 1.1a is supported");
            fail(ex_ioerr, "(for raw binary download, use the --dfuse-address option)");
        }
        run.walk(payload);
    }
    return 0;
}

} // namespace simulator
