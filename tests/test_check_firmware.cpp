// The check of the firmware a build carries: each kind of bad release is refused with its own
// line naming the file, and a good release is carried as given. The files are made with the
// product's own writers.

#include "device/bytes.h"
#include "device/memory_map.h"
#include "device/record_writers.h"
#include "device/vector_table.h"
#include "dfu/dfuse_file.h"
#include "tools/firmware_check.h"

#include <QCryptographicHash>
#include <QtTest>

namespace {

using Device::memory_map::address_text;
using Device::memory_map::ccm_base;
using Device::memory_map::ccm_size;
using Device::memory_map::flash_base;
using Device::memory_map::sram_base;
using Device::memory_map::sram_size;
using firmware_check::Supplied;
namespace DfuSe = DFU::DfuSe;

const QString dfu_name = QStringLiteral("release.dfu");
const QString bin_name = QStringLiteral("release.bin");

constexpr quint32 sram_top = sram_base + sram_size;
constexpr quint32 reset_handler = flash_base + 0x201; // Thumb code in the image

QByteArray with_boot_words(QByteArray image, quint32 stack_pointer, quint32 reset_address) {
    namespace vectors = Device::vector_table;
    image.replace(vectors::stack_pointer_offset, 4, Device::bytes::le32_bytes(stack_pointer));
    image.replace(vectors::reset_address_offset, 4, Device::bytes::le32_bytes(reset_address));
    return image;
}

// A bootable vector table (the stack at the SRAM's top), the information block, then code-like
// bytes.
QByteArray image(const QString& revision = "B9", Device::ProductInfoRaw product = {Device::VELK},
                 int size = 4096) {
    QByteArray bytes = with_boot_words(QByteArray(428, '\x11'), sram_top, reset_handler);
    bytes += Device::make_FW_Info_block(product, "LUMO7", revision, {{"Git tag", "LUMO7-B9"}});
    while (bytes.size() < size)
        bytes.append(static_cast<char>(bytes.size() * 7));
    return bytes.left(size);
}

// A good image that boots from other words.
QByteArray booting(quint32 stack_pointer, quint32 reset_address) {
    return with_boot_words(image(), stack_pointer, reset_address);
}

QByteArray file_of(const std::vector<DfuSe::Target>& targets) {
    return DfuSe::make_file(targets, DfuSe::bootloader_vendor, DfuSe::bootloader_product);
}

DfuSe::Target target(quint32 address, const QByteArray& data, quint8 alt = 0) {
    return {alt, QStringLiteral("ST..."), {{address, data}}};
}

// A well-formed suffix over a changed prefix: only the signature is wrong.
QByteArray with_signature(QByteArray dfu, const QByteArray& signature) {
    dfu.replace(0, signature.size(), signature);
    dfu.chop(4);
    return dfu + Device::bytes::le32_bytes(DfuSe::suffix_crc(dfu));
}

QByteArray with_broken_crc(QByteArray dfu) {
    dfu[dfu.size() - 1] = static_cast<char>(dfu[dfu.size() - 1] ^ 0x01);
    return dfu;
}

QByteArray changed_at(QByteArray bytes, int at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0xFF);
    return bytes;
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

Q_DECLARE_METATYPE(firmware_check::Supplied)

class TestCheckFirmware : public QObject {
    Q_OBJECT
private slots:
    void refuses_each_bad_release_and_carries_a_good_one_data() {
        QTest::addColumn<Supplied>("dfu");
        QTest::addColumn<Supplied>("bin");
        QTest::addColumn<QString>("pinned");
        QTest::addColumn<QString>("refusal"); // empty: carried
        const QByteArray good = DfuSe::make_flash_file(image());
        const Supplied none;
        const Supplied good_dfu{dfu_name, good};
        const Supplied good_bin{bin_name, image()};
        const auto dfu = [](const QByteArray& bytes) { return Supplied{dfu_name, bytes}; };
        const QString refused_dfu = dfu_name + ": ";

        QTest::newRow("good DfuSe file") << good_dfu << none << QString() << QString();
        QTest::newRow("good DfuSe file and raw image")
            << good_dfu << good_bin << QString() << QString();
        QTest::newRow("raw image alone") << none << good_bin << QString() << QString();
        QTest::newRow("stack at the top of the core-coupled memory")
            << none << Supplied{bin_name, booting(ccm_base + ccm_size, reset_handler)} << QString()
            << QString();
        QTest::newRow("DfuSe file given as the raw image")
            << none << Supplied{bin_name, good} << QString()
            << bin_name + ": this is a DfuSe file; give it as ORVANTA_FIRMWARE";
        QTest::newRow("pinned digest matches")
            << good_dfu << none << sha256(good).toUpper() << QString();
        QTest::newRow("pinned digest differs") << good_dfu << none << sha256("other")
                                               << refused_dfu + "its SHA-256 is " + sha256(good) +
                                                      ", not the pinned " + sha256("other");
        QTest::newRow("wrong signature")
            << dfu(with_signature(good, "DfuSx")) << none << QString()
            << refused_dfu + "not a valid DfuSe file: no DfuSe signature";
        QTest::newRow("broken CRC")
            << dfu(with_broken_crc(good)) << none << QString()
            << refused_dfu + "not a valid DfuSe file: suffix CRC does not match";
        QTest::newRow("two targets")
            << dfu(file_of({target(flash_base, image()), target(flash_base, image())})) << none
            << QString() << refused_dfu + "it holds 2 targets, not exactly one";
        QTest::newRow("another alternate setting")
            << dfu(file_of({target(flash_base, image(), 2)})) << none << QString()
            << refused_dfu + "its target is for alternate setting 2, not 0 (the flash)";
        QTest::newRow("wrong address")
            << dfu(file_of({target(flash_base + 0x4000, image())})) << none << QString()
            << refused_dfu + QString("its element starts at %1, not at the flash's start %2")
                                 .arg(address_text(flash_base + 0x4000), address_text(flash_base));
        QTest::newRow("too large")
            << dfu(DfuSe::make_flash_file(image("B9", {Device::VELK}, 1024 * 1024 + 1))) << none
            << QString()
            << refused_dfu +
                   "its image of 1048577 bytes does not fit the unit's flash of 1048576 bytes";
        QTest::newRow("shorter than the boot words")
            << dfu(DfuSe::make_flash_file(image().left(6))) << none << QString()
            << refused_dfu + "its image of 6 bytes is shorter than a vector table's first 8";
        QTest::newRow("erased stack pointer")
            << dfu(DfuSe::make_flash_file(booting(0xFFFFFFFF, reset_handler))) << none << QString()
            << refused_dfu + "its vector table is erased (initial stack pointer 0xFFFFFFFF)";
        QTest::newRow("stack pointer past the SRAM's top")
            << none << Supplied{bin_name, booting(sram_top + 4, reset_handler)} << QString()
            << bin_name + ": its initial stack pointer 0x20020004 is not in the unit's RAM "
                          "(0x20000000 to 0x20020000 or 0x10000000 to 0x10010000)";
        QTest::newRow("unaligned stack pointer")
            << none << Supplied{bin_name, booting(sram_top - 2, reset_handler)} << QString()
            << bin_name + ": its initial stack pointer 0x2001FFFE is not word-aligned";
        QTest::newRow("even reset address")
            << dfu(DfuSe::make_flash_file(booting(sram_top, flash_base + 0x200))) << none
            << QString() << refused_dfu + "its reset address 0x08000200 is even, not Thumb code";
        QTest::newRow("reset address past the image")
            << dfu(DfuSe::make_flash_file(booting(sram_top, flash_base + 4096 + 1))) << none
            << QString()
            << refused_dfu + "its reset address 0x08001001 lies outside its image (0x08000000 to "
                             "0x08000FFF)";
        QTest::newRow("reset address before the flash")
            << none << Supplied{bin_name, booting(sram_top, flash_base - 0x1000 + 1)} << QString()
            << bin_name + ": its reset address 0x07FFF001 lies outside its image (0x08000000 to "
                          "0x08000FFF)";
        QTest::newRow("mismatched raw image")
            << good_dfu << Supplied{bin_name, changed_at(image(), 3000)} << QString()
            << bin_name +
                   ": differs from the element of release.dfu (4096 bytes against 4096, first "
                   "at byte 3000)";
        QTest::newRow("no information block")
            << dfu(DfuSe::make_flash_file(
                   with_boot_words(QByteArray(4096, '\x22'), sram_top, reset_handler)))
            << none << QString()
            << refused_dfu + "no valid firmware information block in its first 2048 bytes";
        QTest::newRow("unknown product")
            << dfu(DfuSe::make_flash_file(image("B9", {0x2A}))) << none << QString()
            << refused_dfu + "its information block names product code 42, not a product of the "
                             "product table";
        QTest::newRow("no revision") << Supplied{} << Supplied{bin_name, image("")} << QString()
                                     << bin_name + ": its information block has no revision";
        QTest::newRow("revision unfit for a package version")
            << dfu(DfuSe::make_flash_file(image("B 9"))) << none << QString()
            << refused_dfu + "its revision \"B 9\" cannot be part of a package version (letters, "
                             "digits, '.', '+' and '~' only)";
    }

    void refuses_each_bad_release_and_carries_a_good_one() {
        QFETCH(Supplied, dfu);
        QFETCH(Supplied, bin);
        QFETCH(QString, pinned);
        QFETCH(QString, refusal);
        const firmware_check::Outcome outcome = firmware_check::check(dfu, bin, pinned);
        QCOMPARE(outcome.refusal, refusal);
        QCOMPARE(outcome.carried.has_value(), refusal.isEmpty());
        if (!outcome.carried)
            return;
        // What is carried is the release itself: its DfuSe file (made from the raw image when
        // only that is given), its one element, and what its information block says.
        const QByteArray given = bin.given() ? bin.bytes : image();
        QCOMPARE(outcome.carried->image, given);
        QCOMPARE(outcome.carried->dfu, DfuSe::make_flash_file(given));
        QCOMPARE(outcome.carried->sha256, sha256(outcome.carried->dfu));
        QCOMPARE(outcome.carried->info.revision, QString("B9"));
        QCOMPARE(outcome.carried->info.product.type, Device::VELK);
    }
};

QTEST_GUILESS_MAIN(TestCheckFirmware)
#include "test_check_firmware.moc"
