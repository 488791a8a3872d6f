#include "simulator/program/commands.h"

#include "dfu/dfuse_file.h"
#include "simulator/program/dfu_file.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/progress.h"

#include <csignal>
#include <cstdio>

namespace simulator {

namespace {

using namespace DFU::DfuSe;

// One run of -D into the opened unit: the elements of its alternate setting, page by page,
// erasing each page as the writing reaches it, as the bootloader does. The unit's fault strikes
// in the first element written.
class Download {
public:
    Download(Units& units, const Unit& unit, int alt)
        : units_(units), unit_(unit), alt_(alt), layout_(memory_layout(alt)),
          fault_(units.download_fault(unit)) {}

    void element(const QByteArray& data, qint64 address);
    // Walks the targets and elements of a DfuSe file as dfu-util 0.9 does, with its messages
    // and exit codes, writing the elements of the alternate setting in use.
    void walk(const QByteArray& payload);

private:
    void strike(bool first, bool at_cut, const QByteArray& data, qint64 written, qint64 address,
                qint64 erased_from, qint64 erased_to);

    Units& units_;
    const Unit unit_;
    const int alt_;
    const Layout layout_;
    DownloadFault fault_;
};

void Download::element(const QByteArray& data, qint64 address) {
    const qint64 size = data.size();
    const Segment* last = find_segment(layout_, address + size - 1);
    if (last == nullptr || !last->writeable() || alt_ != flash_alt)
        fail(ex_ioerr, QStringLiteral("Last page at %1 is not writeable")
                           .arg(hex_address(address + size - 1)));
    const Segment* first = find_segment(layout_, address);
    const qint64 first_page = first ? first->page_start(address) : address;
    // Where a lost unit or a crash cuts the download: at 40 %, on a transfer boundary.
    const qint64 cut = size * 2 / 5 / transfer_size * transfer_size;
    qint64 erased_to = first_page;

    Progress bar(QStringLiteral("Download"), units_.download_ms(size));
    bar.update(0, 1);
    for (qint64 p = 0; p < size; p += transfer_size) {
        const qint64 at = address + p;
        const qint64 chunk = qMin<qint64>(size - p, transfer_size);
        const Segment* segment = find_segment(layout_, at);
        if (segment == nullptr || !segment->writeable())
            fail(ex_ioerr, QStringLiteral("Page at %1 is not writeable").arg(hex_address(at)));
        bar.update(p, size);
        if (const Segment* end = find_segment(layout_, at + chunk - 1))
            erased_to = end->page_end(at + chunk - 1);
        strike(p == 0, p == cut, data, p, address, first_page, erased_to);
    }
    bar.update(size, size);
    if (fault_ != DownloadFault::keeps_flash) {
        units_.store_flash(unit_, program_flash(units_.memory(unit_, flash_alt), data,
                                                address - flash_base, first_page - flash_base,
                                                erased_to - flash_base));
    }
}

// The fault, if it strikes here: at the first transfer, or at the cut once `written` is in.
void Download::strike(bool first, bool at_cut, const QByteArray& data, qint64 written,
                      qint64 address, qint64 erased_from, qint64 erased_to) {
    if (first && fault_ == DownloadFault::erase_refused) {
        out(QStringLiteral("state(10) = dfuERROR, status(4) = Memory erase function failed\n"));
        fail(ex_ioerr, QStringLiteral("Wrong state after command \"ERASE_PAGE\" download"));
    }
    if (first && fault_ == DownloadFault::error)
        fail(ex_ioerr, QStringLiteral("Error during download"));
    if (first && fault_ == DownloadFault::refused)
        fail(ex_ioerr, QStringLiteral("dfuse_download: libusb_control_transfer returned -9"));
    if (at_cut && fault_ == DownloadFault::lost) {
        // Unplugged while this transfer's page was erased: the transfers before it are written.
        units_.lose(unit_, program_flash(units_.memory(unit_, flash_alt),
                                         data.left(static_cast<int>(written)), address - flash_base,
                                         erased_from - flash_base, erased_to - flash_base));
        warn(QStringLiteral("Error during download"));
        fail(ex_ioerr, QStringLiteral("dfuse_download: libusb_control_transfer returned -4"));
    }
    if (at_cut && fault_ == DownloadFault::crash) {
        std::fflush(stdout);
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
}

void Download::walk(const QByteArray& payload) {
    qint64 rem = payload.size();
    if (rem < prefix_size + target_prefix_size + element_header_size)
        fail(ex_software, QStringLiteral("File too small for a DfuSe file"));
    const Prefix prefix = *read_prefix(payload);
    if (prefix.signature != prefix_signature)
        fail(ex_ioerr, QStringLiteral("No valid DfuSe signature"));
    if (prefix.format_version != 1)
        fail(ex_ioerr,
             QStringLiteral("DFU format revision %1 not supported").arg(prefix.format_version));
    int pos = prefix_size;
    rem -= prefix_size;
    say(QStringLiteral("file contains %1 DFU images").arg(prefix.targets));
    for (int image = 1; image <= prefix.targets; ++image) {
        say(QStringLiteral("parsing DFU image %1").arg(image));
        const std::optional<TargetPrefix> target = read_target_prefix(payload, pos);
        if (!target)
            fail(ex_ioerr, QStringLiteral("Corrupt DfuSe file: Cannot read %1 bytes from %2 bytes")
                               .arg(target_prefix_size)
                               .arg(rem));
        if (target->signature != target_signature)
            fail(ex_ioerr, QStringLiteral("No valid target signature"));
        say(QStringLiteral("image for alternate setting %1, (%2 elements, total size = %3)")
                .arg(target->alternate_setting)
                .arg(target->elements)
                .arg(target->size));
        if (target->alternate_setting != alt_) {
            say(QStringLiteral("Warning: Image does not match current alternate setting."));
            say(QStringLiteral(
                "Please rerun with the correct -a option setting to download this image!"));
        }
        pos += target_prefix_size;
        rem -= target_prefix_size;
        for (quint32 e = 1; e <= target->elements; ++e) {
            out(QStringLiteral("parsing element %1, ").arg(e));
            const std::optional<ElementHeader> header = read_element_header(payload, pos);
            if (!header)
                fail(ex_ioerr,
                     QStringLiteral("Corrupt DfuSe file: Cannot read %1 bytes from %2 bytes")
                         .arg(element_header_size)
                         .arg(rem));
            say(QStringLiteral("address = %1, size = %2")
                    .arg(hex_address(header->address))
                    .arg(header->size));
            pos += element_header_size;
            rem -= element_header_size;
            if (header->size > rem)
                fail(ex_software, QStringLiteral("File too small for element size"));
            if (target->alternate_setting == alt_)
                element(payload.mid(pos, static_cast<int>(header->size)), header->address);
            pos += static_cast<int>(header->size);
            rem -= header->size;
        }
    }
    if (rem != 0)
        warn(QStringLiteral("%1 bytes leftover").arg(rem));
    say(QStringLiteral("done parsing DfuSe file"));
}

} // namespace

int download(const Options& options, Units& units) {
    const DfuFile file = load_dfu_file(options.file);
    Options matched = options;
    if (matched.vendor < 0 && file.vendor != 0xffff) {
        matched.vendor = file.vendor;
        out(QStringLiteral("Match vendor ID from file: %1\n")
                .arg(file.vendor, 4, 16, QLatin1Char('0')));
    }
    if (matched.product < 0 && file.product != 0xffff) {
        matched.product = file.product;
        out(QStringLiteral("Match product ID from file: %1\n")
                .arg(file.product, 4, 16, QLatin1Char('0')));
    }
    const Unit unit = open_unit(matched, units);
    if ((file.vendor != 0xffff && file.vendor != 0x0483) ||
        (file.product != 0xffff && file.product != 0xdf11))
        fail(ex_ioerr,
             QStringLiteral("Error: File ID %1:%2 does not match device (0483:df11 or 0483:df11)")
                 .arg(file.vendor, 4, 16, QLatin1Char('0'))
                 .arg(file.product, 4, 16, QLatin1Char('0')));
    const DfuseOptions dfuse = parse_dfuse_options(options.dfuse_options);
    say_interface_name(options.alt());
    units.prepare_flash(unit, options.file);
    Download run(units, unit, options.alt());
    const QByteArray payload = file.payload();
    if (dfuse.address >= 0) {
        if (file.dfu_version == dfuse_bcd_dfu)
            fail(ex_ioerr, QStringLiteral("This is a DfuSe file, not meant for raw download"));
        say(QStringLiteral("Downloading to address = %1, size = %2")
                .arg(hex_address(dfuse.address))
                .arg(payload.size()));
        run.element(payload, dfuse.address);
        say(QStringLiteral("File downloaded successfully"));
    } else {
        if (file.dfu_version != dfuse_bcd_dfu) {
            warn(QStringLiteral("Only DfuSe file version 1.1a is supported"));
            fail(ex_ioerr,
                 QStringLiteral("(for raw binary download, use the --dfuse-address option)"));
        }
        run.walk(payload);
    }
    return 0;
}

} // namespace simulator
