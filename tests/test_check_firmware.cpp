// The check of the firmware a build carries: each kind of bad release is refused with its own
// line naming the file, each kind of missing or bad signature too, and a good release signed by
// a trusted key is carried as given, with its signer's key id. The firmware files are made with
// the product's own writers; the test's throwaway keys and minisign files with libsodium, as
// minisign makes them (tests/test_firmware_build.sh uses minisign itself).

#include "device/bytes.h"
#include "device/memory_map.h"
#include "device/record_writers.h"
#include "device/vector_table.h"
#include "dfu/dfuse_file.h"
#include "tools/firmware_check.h"
#include "tools/minisign.h"

#include <QCryptographicHash>
#include <QDir>
#include <QtTest>

#include <sodium.h>

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

// --- minisign's files, made as minisign makes them (the layout: tools/minisign.h) ------------
namespace layout = minisign::layout;

struct KeyPair {
    QByteArray id;
    QByteArray public_key;
    QByteArray secret_key;
};

// A throwaway key pair, the same for the same number.
KeyPair key_pair(char number) {
    KeyPair pair{QByteArray(layout::key_id_size, number), QByteArray(layout::key_size, '\0'),
                 QByteArray(crypto_sign_SECRETKEYBYTES, '\0')};
    const QByteArray seed(crypto_sign_SEEDBYTES, number);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(pair.public_key.data()),
                             reinterpret_cast<unsigned char*>(pair.secret_key.data()),
                             reinterpret_cast<const unsigned char*>(seed.constData()));
    return pair;
}

QByteArray ed25519(const QByteArray& message, const KeyPair& key) {
    QByteArray signature(layout::signature_size, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char*>(key.secret_key.constData()));
    return signature;
}

QByteArray blake2b_512(const QByteArray& file) {
    QByteArray hash(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), size_t(hash.size()),
                       reinterpret_cast<const unsigned char*>(file.constData()),
                       size_t(file.size()), nullptr, 0);
    return hash;
}

QByteArray public_key_file(const KeyPair& key) {
    return minisign::untrusted_prefix + QByteArray("minisign public key ") +
           minisign::key_id_text(key.id).toLatin1() + "\n" +
           (minisign::key_algorithm + key.id + key.public_key).toBase64() + "\n";
}

// As `minisign -S -t <comment>` signs `file`; the legacy form (-l) signs the file itself.
QByteArray signature_file(const KeyPair& key, const QByteArray& file,
                          const QByteArray& comment = "product=LUMO7 revision=B9",
                          bool legacy = false) {
    const QByteArray signature = ed25519(legacy ? file : blake2b_512(file), key);
    const QByteArray algorithm = legacy ? minisign::legacy_algorithm : minisign::hashed_algorithm;
    return minisign::untrusted_prefix + QByteArray("signature from minisign secret key\n") +
           (algorithm + key.id + signature).toBase64() + "\n" + minisign::trusted_prefix + comment +
           "\n" + ed25519(signature + comment, key).toBase64() + "\n";
}

const KeyPair release_key = key_pair('A');
const KeyPair standby_key = key_pair('B');
const KeyPair stranger_key = key_pair('S');
const QString signature_name = QStringLiteral("release.minisig");

std::vector<Supplied> trusted_keys() {
    return {{QStringLiteral("release.pub"), public_key_file(release_key)},
            {QStringLiteral("standby.pub"), public_key_file(standby_key)}};
}

// A release as the firmware team hands it over: its signature of the DfuSe file if there is
// one, else of the raw image, by its release key.
firmware_check::Release signed_release(const Supplied& dfu, const Supplied& bin,
                                       const QString& pinned = {}) {
    const QByteArray& signed_bytes = dfu.given() ? dfu.bytes : bin.bytes;
    return {dfu,
            bin,
            pinned,
            {signature_name, signature_file(release_key, signed_bytes)},
            trusted_keys(),
            false};
}

} // namespace

Q_DECLARE_METATYPE(firmware_check::Supplied)
Q_DECLARE_METATYPE(firmware_check::Release)

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
        const firmware_check::Outcome outcome =
            firmware_check::check(signed_release(dfu, bin, pinned));
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
        QCOMPARE(outcome.carried->key_id, minisign::key_id_text(release_key.id));
    }

    // Only a release signed by a trusted key, of these very bytes, with its trusted comment as
    // signed and naming the image's own product and revision, is carried; the development
    // firmware alone may be unsigned.
    void refuses_each_unsigned_or_badly_signed_release_data() {
        QTest::addColumn<firmware_check::Release>("release");
        QTest::addColumn<QString>("refusal"); // empty: carried
        QTest::addColumn<QString>("key_id");  // of the carried firmware
        const QByteArray dfu = DfuSe::make_flash_file(image());
        const Supplied good_dfu{dfu_name, dfu};
        const QString release_id = minisign::key_id_text(release_key.id);
        const QString standby_id = minisign::key_id_text(standby_key.id);
        const QString stranger_id = minisign::key_id_text(stranger_key.id);
        const auto signed_by = [&](const KeyPair& key, const QByteArray& file,
                                   const QByteArray& comment = "product=LUMO7 revision=B9") {
            firmware_check::Release r = signed_release(good_dfu, {});
            r.signature.bytes = signature_file(key, file, comment);
            return r;
        };
        const auto refused_signature = signature_name + ": ";

        QTest::newRow("signed by the release key")
            << signed_by(release_key, dfu) << QString() << release_id;
        QTest::newRow("signed by the standby key, the release key still trusted")
            << signed_by(standby_key, dfu) << QString() << standby_id;
        QTest::newRow("raw image alone, its signature")
            << signed_release({}, {bin_name, image()}) << QString() << release_id;
        QTest::newRow("minisign's comment words around the claims")
            << signed_by(release_key, dfu,
                         "timestamp:1800000000\tproduct=LUMO7 revision=B9\tfile:x")
            << QString() << release_id;
        firmware_check::Release development{good_dfu, {}, {}, {}, {}, true};
        QTest::newRow("the development firmware, unsigned")
            << development << QString() << Device::development_key_id();
        firmware_check::Release unsigned_release = development;
        unsigned_release.development = false;
        QTest::newRow("no signature")
            << unsigned_release
            << dfu_name +
                   ": is not signed: name its minisign signature (.minisig) as "
                   "ORVANTA_FIRMWARE_SIGNATURE; only the development firmware may be unsigned"
            << QString();
        QTest::newRow("a key not trusted")
            << signed_by(stranger_key, dfu)
            << refused_signature + "signed by key " + stranger_id +
                   ", which is not among the trusted keys (" + release_id + ", " + standby_id + ")"
            << QString();
        firmware_check::Release changed = signed_by(release_key, dfu);
        changed.dfu.bytes = changed_at(dfu, 4000);
        QTest::newRow("the file changed by one byte after signing")
            << changed
            << dfu_name + ": does not match its signature " + signature_name + " by key " +
                   release_id + ": it was changed after signing, or the signature is another file's"
            << QString();
        firmware_check::Release edited = signed_by(release_key, dfu);
        edited.signature.bytes.replace("revision=B9", "revision=B8");
        QTest::newRow("the trusted comment edited")
            << edited
            << refused_signature +
                   "its trusted comment was changed after signing (the global "
                   "signature by key " +
                   release_id + " does not match it)"
            << QString();
        QTest::newRow("the trusted comment names another revision")
            << signed_by(release_key, dfu, "product=LUMO7 revision=B8")
            << refused_signature + "its trusted comment names revision B8, but the image's "
                                   "information block names B9"
            << QString();
        QTest::newRow("the trusted comment names another product")
            << signed_by(release_key, dfu, "product=LUMO8 revision=B9")
            << refused_signature + "its trusted comment names product LUMO8, but the image's "
                                   "information block names LUMO7"
            << QString();
        QTest::newRow("the trusted comment names neither product nor revision")
            << signed_by(release_key, dfu, "timestamp:1800000000\tfile:release.dfu")
            << refused_signature + "its trusted comment names no product (sign with -t "
                                   "\"product=LUMO7 revision=B9\")"
            << QString();
        firmware_check::Release legacy = signed_by(release_key, dfu);
        legacy.signature.bytes =
            signature_file(release_key, dfu, "product=LUMO7 revision=B9", true);
        QTest::newRow("minisign's legacy form")
            << legacy
            << refused_signature + "a legacy signature of the file itself (minisign -l): sign the "
                                   "release again without -l"
            << QString();
        firmware_check::Release cut = signed_by(release_key, dfu);
        cut.signature.bytes.truncate(cut.signature.bytes.lastIndexOf("trusted comment"));
        QTest::newRow("a signature cut short")
            << cut
            << refused_signature + "not a minisign signature: it has 2 lines, not the 4 of a "
                                   "minisign signature"
            << QString();
        firmware_check::Release garbled = signed_by(release_key, dfu);
        garbled.signature.bytes.replace(60, 3, "***");
        QTest::newRow("a signature line that is no base64")
            << garbled
            << refused_signature + "not a minisign signature: its signature line is not the "
                                   "base64 of 74 bytes"
            << QString();
        firmware_check::Release bad_key = signed_by(release_key, dfu);
        bad_key.trusted_keys.push_back({"notes.txt", "held by the firmware team\n"});
        QTest::newRow("a trusted key file that is no key")
            << bad_key
            << QString("notes.txt: not a minisign public key: it has 1 lines, not the 2 of a "
                       "minisign public key")
            << QString();
    }
    void refuses_each_unsigned_or_badly_signed_release() {
        QFETCH(firmware_check::Release, release);
        QFETCH(QString, refusal);
        QFETCH(QString, key_id);
        const firmware_check::Outcome outcome = firmware_check::check(release);
        QCOMPARE(outcome.refusal, refusal);
        QCOMPARE(outcome.carried.has_value(), refusal.isEmpty());
        if (outcome.carried)
            QCOMPARE(outcome.carried->key_id, key_id);
    }

    // The keys the tree trusts: at least two, so that one can be retired without a gap, each a
    // minisign public key whose comment names its key id as minisign printed it (without
    // leading zeros), and who holds its secret key.
    void the_tree_trusts_two_keys_at_least_each_with_its_holder() {
        const QDir dir(QStringLiteral(ORVANTA_SOURCE_DIR "/packaging/firmware-keys"));
        const QStringList files = dir.entryList({"*.pub"}, QDir::Files);
        QVERIFY2(files.size() >= 2, qPrintable(files.join(' ')));
        QSet<QString> ids;
        for (const QString& name : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QString fault;
            const std::optional<minisign::PublicKey> key =
                minisign::read_public_key(file.readAll(), &fault);
            QVERIFY2(key, qPrintable(name + ": " + fault));
            const QString id = minisign::key_id_text(key->key_id);
            const QRegularExpressionMatch printed =
                QRegularExpression("^minisign public key ([0-9A-F]{1,16}): ").match(key->comment);
            QVERIFY2(printed.hasMatch(), qPrintable(name + ": " + key->comment));
            QCOMPARE(printed.captured(1).rightJustified(16, '0'), id);
            QVERIFY2(key->comment.contains(" held "), qPrintable(name + ": " + key->comment));
            ids.insert(id);
        }
        QCOMPARE(ids.size(), files.size());
    }
};

QTEST_GUILESS_MAIN(TestCheckFirmware)
#include "test_check_firmware.moc"
