#include "tools/firmware_check.h"

#include "device/memory_map.h"
#include "device/product.h"
#include "device/vector_table.h"
#include "dfu/dfuse_file.h"
#include "tools/firmware_signature.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace firmware_check {

namespace {

using namespace Device::memory_map;
namespace DfuSe = DFU::DfuSe;

QString hex(quint32 value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0'));
}

QString sha256_of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool names_bootloader(quint16 vendor, quint16 product) {
    return (vendor == 0xFFFF || vendor == DfuSe::bootloader_vendor) &&
           (product == 0xFFFF || product == DfuSe::bootloader_product);
}

// The container: what dfu-util needs to write exactly one image to the start of the flash.
QString container_fault(const DfuSe::File& file) {
    if (!file.valid)
        return QStringLiteral("not a valid DfuSe file: ") + file.error;
    if (!names_bootloader(file.vendor, file.product))
        return QStringLiteral("its suffix is for USB device %1:%2, not %3:%4")
            .arg(hex(file.vendor, 4), hex(file.product, 4), hex(DfuSe::bootloader_vendor, 4),
                 hex(DfuSe::bootloader_product, 4));
    if (file.targets.size() != 1)
        return QStringLiteral("it holds %1 targets, not exactly one").arg(file.targets.size());
    const DfuSe::Target& target = file.targets.front();
    if (target.alternate_setting != flash_alt)
        return QStringLiteral("its target is for alternate setting %1, not %2 (the flash)")
            .arg(target.alternate_setting)
            .arg(flash_alt);
    if (target.elements.size() != 1)
        return QStringLiteral("its target holds %1 elements, not exactly one")
            .arg(target.elements.size());
    if (target.elements.front().address != flash_base)
        return QStringLiteral("its element starts at 0x%1, not at the flash's start 0x%2")
            .arg(hex(target.elements.front().address, 8), hex(flash_base, 8));
    return QString();
}

// A DfuSe file given where the raw image belongs, known by the container's own signature.
bool is_dfuse_file(const QByteArray& bytes) {
    const std::optional<DfuSe::Prefix> prefix = DfuSe::read_prefix(bytes);
    return prefix && prefix->signature == DfuSe::prefix_signature;
}

constexpr quint32 erased_word = 0xFFFFFFFF; // what a word of erased flash reads

// From the base up to and including the top: a stack pointer may name the top.
bool in_region(quint32 address, quint32 base, quint32 size) {
    return address >= base && address - base <= size;
}

// The vector table the core boots from: a stack in RAM, a reset address into the image's own
// code. An image that fails this would fault at the unit's first power-up.
QString boot_fault(const QByteArray& image) {
    namespace vectors = Device::vector_table;
    const std::optional<vectors::BootWords> words = vectors::read_boot_words(image);
    if (!words)
        return QStringLiteral("its image of %1 bytes is shorter than a vector table's first %2")
            .arg(image.size())
            .arg(vectors::boot_words_size);
    const quint32 stack = words->stack_pointer;
    if (stack == erased_word)
        return QStringLiteral("its vector table is erased (initial stack pointer %1)")
            .arg(address_text(stack));
    if (!in_region(stack, sram_base, sram_size) && !in_region(stack, ccm_base, ccm_size))
        return QStringLiteral("its initial stack pointer %1 is not in the unit's RAM (%2 to %3 "
                              "or %4 to %5)")
            .arg(address_text(stack), address_text(sram_base), address_text(sram_base + sram_size),
                 address_text(ccm_base), address_text(ccm_base + ccm_size));
    if (stack % 4 != 0)
        return QStringLiteral("its initial stack pointer %1 is not word-aligned")
            .arg(address_text(stack));
    const quint32 reset = words->reset_address;
    if ((reset & vectors::thumb_bit) == 0)
        return QStringLiteral("its reset address %1 is even, not Thumb code")
            .arg(address_text(reset));
    const quint32 entry = reset & ~vectors::thumb_bit;
    const quint32 image_last = flash_base + static_cast<quint32>(image.size()) - 1;
    if (entry < flash_base || entry > image_last)
        return QStringLiteral("its reset address %1 lies outside its image (%2 to %3)")
            .arg(address_text(reset), address_text(flash_base), address_text(image_last));
    return QString();
}

// The image: fits the flash and can boot.
QString image_fault(const QByteArray& image) {
    if (image.isEmpty())
        return QStringLiteral("its image is empty");
    if (image.size() > flash_size)
        return QStringLiteral("its image of %1 bytes does not fit the unit's flash of %2 bytes")
            .arg(image.size())
            .arg(flash_size);
    return boot_fault(image);
}

// The information block names a product of the table and a revision that can go into a package
// version.
QString info_fault(const Device::FW_Info& info) {
    if (!info.valid)
        return QStringLiteral("no valid firmware information block in its first %1 bytes")
            .arg(fw_info_length);
    if (!Device::is_known(info.product.type))
        return QStringLiteral("its information block names product code %1, not a product of "
                              "the product table")
            .arg(info.product.raw_type);
    if (info.revision.isEmpty())
        return QStringLiteral("its information block has no revision");
    static const QRegularExpression version_part(QStringLiteral("^[A-Za-z0-9.+~]+$"));
    if (!version_part.match(info.revision).hasMatch())
        return QStringLiteral("its revision \"%1\" cannot be part of a package version (letters, "
                              "digits, '.', '+' and '~' only)")
            .arg(info.revision);
    return QString();
}

QString mismatch(const QByteArray& image, const QByteArray& element, const QString& dfu_name) {
    if (image == element)
        return QString();
    int at = 0;
    while (at < image.size() && at < element.size() && image[at] == element[at])
        ++at;
    return QStringLiteral("differs from the element of %1 (%2 bytes against %3, first at byte %4)")
        .arg(dfu_name)
        .arg(image.size())
        .arg(element.size())
        .arg(at);
}

Outcome refuse(const QString& file, const QString& fault) {
    return {std::nullopt, file + ": " + fault};
}

// The container and the image of a release whose digest and signature passed.
Outcome carried_of(const Supplied& dfu, const Supplied& image) {
    Carried carried;
    if (dfu.given()) {
        const DfuSe::File file = DfuSe::parse(dfu.bytes);
        if (const QString fault = container_fault(file); !fault.isEmpty())
            return refuse(dfu.name, fault);
        carried.image = file.targets.front().elements.front().data;
        carried.dfu = dfu.bytes;
    } else {
        carried.image = image.bytes;
    }
    const Supplied& image_file = dfu.given() ? dfu : image;
    if (const QString fault = image_fault(carried.image); !fault.isEmpty())
        return refuse(image_file.name, fault);
    carried.info = Device::make_FW_Info(carried.image);
    if (const QString fault = info_fault(carried.info); !fault.isEmpty())
        return refuse(image_file.name, fault);
    if (!dfu.given())
        carried.dfu = DfuSe::make_flash_file(carried.image);
    else if (image.given())
        if (const QString fault = mismatch(image.bytes, carried.image, dfu.name); !fault.isEmpty())
            return refuse(image.name, fault);
    carried.sha256 = sha256_of(carried.dfu);
    return {carried, QString()};
}

// Whose firmware it is: the firmware team's, by a good signature of a trusted key, or the
// development firmware's, which alone may come unsigned.
firmware_signature::Verdict signer_of(const Release& release, const Supplied& signed_file) {
    if (!release.signature.given()) {
        if (release.development)
            return {Device::development_key_id(), {}, {}};
        return {{},
                {},
                signed_file.name + QStringLiteral(": is not signed: name its minisign "
                                                  "signature (.minisig) as "
                                                  "ORVANTA_FIRMWARE_SIGNATURE; only the "
                                                  "development firmware may be unsigned")};
    }
    const firmware_signature::TrustedKeys trusted =
        firmware_signature::read_trusted_keys(release.trusted_keys);
    if (!trusted.refusal.isEmpty())
        return {{}, {}, trusted.refusal};
    return firmware_signature::verify(signed_file, release.signature, trusted.keys);
}

} // namespace

Outcome check(const Release& release) {
    const Supplied& image = release.image;
    if (image.given() && is_dfuse_file(image.bytes))
        return refuse(image.name,
                      QStringLiteral("this is a DfuSe file; give it as ORVANTA_FIRMWARE"));
    // The digest and the signature are of the file as given: the DfuSe file if there is one.
    const Supplied& signed_file = release.dfu.given() ? release.dfu : image;
    const QString& pinned = release.pinned_sha256;
    if (!pinned.isEmpty() && sha256_of(signed_file.bytes) != pinned.toLower())
        return refuse(signed_file.name, QStringLiteral("its SHA-256 is %1, not the pinned %2")
                                            .arg(sha256_of(signed_file.bytes), pinned));
    const firmware_signature::Verdict signer = signer_of(release, signed_file);
    if (!signer.refusal.isEmpty())
        return {std::nullopt, signer.refusal};
    Outcome outcome = carried_of(release.dfu, image);
    if (!outcome.carried)
        return outcome;
    if (release.signature.given())
        if (const QString fault = firmware_signature::claims_fault(signer, release.signature.name,
                                                                   outcome.carried->info);
            !fault.isEmpty())
            return {std::nullopt, fault};
    outcome.carried->key_id = signer.key_id;
    return outcome;
}

} // namespace firmware_check
