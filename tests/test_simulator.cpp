// Simulator mode: the redirected command table, and the script that plays dfu-util 0.9 and the
// units, driven through the same runner the program uses.

#include "device/fw_info.h"
#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "dfu/dfuse_file.h"
#include "dfu/runner.h"
#include "message_log.h"
#include "simulator/simulator.h"
#include "file_contents.h"
#include "program_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>
#include <tuple>
#include <vector>

using DFU::CmdID;

namespace {

const QString script = QStringLiteral("dfu-util_simulator.sh");
constexpr int image_size = 400308; // the desired firmware
constexpr int no_such_process = -2;

// The desired firmware's DfuSe file with its body changed and the suffix CRC made right again,
// so that the reader gets past the suffix to the fault.
QByteArray with_good_crc(QByteArray file) {
    file.chop(4);
    const quint32 crc = DFU::DfuSe::suffix_crc(file);
    for (int i = 0; i < 4; ++i)
        file.append(static_cast<char>((crc >> (8 * i)) & 0xFF));
    return file;
}

// The firmware information block of a flash image, as the program reads it.
struct InfoBlock {
    bool found = false;
    QByteArray product; // as stored
    QString name;
    QString revision;
    int pairs = 0;
};

InfoBlock info_block(const QByteArray& image) {
    const Device::FW_Info info = Device::make_FW_Info(image);
    const Device::ProductInfo& p = info.product;
    const char product[] = {static_cast<char>(p.raw_type), static_cast<char>(p.byte1),
                            static_cast<char>(p.byte2), static_cast<char>(p.byte3)};
    return {info.valid, QByteArray(product, 4), info.name, info.revision, static_cast<int>(info.details.size())};
}

struct ListingLine {
    int alt = -1;
    QString name;
    QString serial;
};

// The lines after the banner, each in dfu-util 0.9's listing format; fails the test otherwise.
std::vector<ListingLine> listing_lines(const QString& output, bool* ok) {
    static const QRegularExpression line_shape(
        QStringLiteral(R"re(^Found DFU: \[0483:df11\] ver=2200, devnum=\d+, cfg=1, intf=0, )re")
        + QStringLiteral(R"re(path="[^"]+", alt=(\d), name="([^"]*)", serial="([0-9A-Fa-f]+)"$)re"));
    std::vector<ListingLine> lines;
    *ok = output.startsWith(DFU::dfu_util::expected_output_of_execution_test);
    const QString rest = output.mid(DFU::dfu_util::expected_output_of_execution_test.size());
    for (const QString& line : rest.split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line_shape.match(line);
        if (!m.hasMatch()) {
            qWarning() << "not a listing line:" << line;
            *ok = false;
            continue;
        }
        lines.push_back({m.captured(1).toInt(), m.captured(2), m.captured(3)});
    }
    return lines;
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

    std::map<CmdID, DFU::Command> saved_commands_;
    QString saved_path_;
    std::unique_ptr<QTemporaryDir> state_;
    std::unique_ptr<QTemporaryDir> work_;
    int uploads_ = 0;

    QString work_path(const QString& name) const { return work_->filePath(name); }

    // What the program has in its extraction directory: the desired firmware's DfuSe file.
    bool put_firmware_dfu() {
        return QFile::copy(":resources/firmware.dfu", work_path("firmware.dfu"));
    }

    int configure(const QString& name) {
        return DFU::run_command(CmdID::setup_prepared_config, {name}).exit_code;
    }

    // Runs an upload into a fresh file of the work directory; returns the file's bytes.
    QByteArray upload(CmdID id, QStringList args, int* exit_code) {
        const QString path = work_path(QStringLiteral("upload_%1.bin").arg(++uploads_));
        args << path;
        *exit_code = DFU::run_command(id, args).exit_code;
        return read_all(path);
    }
    QByteArray upload_flash(int size, int* exit_code) {
        return upload(CmdID::upload_FW, {"-s", QStringLiteral("0x08000000:%1").arg(size), "-U"},
                      exit_code);
    }

    std::vector<ListingLine> list(bool* ok) {
        const DFU::CmdResult r = DFU::run_command(CmdID::list, {});
        *ok = r.exit_code == 0;
        bool shape = false;
        std::vector<ListingLine> lines = listing_lines(r.output, &shape);
        *ok = *ok && shape;
        return lines;
    }

private slots:
    void init() {
        saved_commands_ = DFU::commands;
        saved_path_ = DFU::Command::path;
        DFU::Command::path.clear();
        state_ = std::make_unique<QTemporaryDir>();
        work_ = std::make_unique<QTemporaryDir>();
        QVERIFY(state_->isValid() && work_->isValid());
        qputenv("ORVANTA_SIMULATOR_STATE_DIR", QFile::encodeName(state_->path()));
        qunsetenv("ORVANTA_SIMULATOR_DESIRED_DFU");
        // What most tests run; the command table tests start again from the saved table.
        simulator::setup_for_simulated_dfu_util(simulator::Setup::fast_progress);
    }

    void cleanup() {
        DFU::commands = saved_commands_;
        DFU::Command::path = saved_path_;
        qunsetenv("ORVANTA_SIMULATOR_STATE_DIR");
        qunsetenv("ORVANTA_SIMULATOR_DESIRED_DFU");
        work_.reset();
        state_.reset();
    }

    // --- the command table -------------------------------------------------------------------

    void command_table_is_redirected_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("args");
        const QStringList fast{"--fast-progress"};
        const std::vector<std::tuple<CmdID, const char*, QString, QStringList>> rows = {
            {CmdID::version, "version", "version", {"-V"}},
            {CmdID::list, "list", "list", {"-d", "0483", "-l"}},
            {CmdID::upload_OTP, "upload_OTP", "upload_OTP",
             {"-d", "0483", "-a", "2", "-s", "0x1FFF7800:512", "-U"}},
            {CmdID::upload_FW_info, "upload_FW_info", "upload_FW",
             {"-d", "0483", "-a", "0", "-s", "0x08000000:2048", "-U"}},
            {CmdID::upload_FW, "upload_FW", "upload_FW", {"-d", "0483", "-a", "0"}},
            {CmdID::download_FW, "download_FW", "download_FW", {"-d", "0483", "-a", "0", "-D"}},
            {CmdID::setup_prepared_config, "setup_prepared_config", "setup_prepared_config", {}},
        };
        for (const auto& [id, row, name, table_args] : rows) {
            const QStringList head{"--dfu-util-command", name};
            QTest::addRow("normal: %s", row)
                << static_cast<int>(simulator::Setup::normal) << static_cast<int>(id)
                << head + table_args;
            QTest::addRow("fast progress: %s", row)
                << static_cast<int>(simulator::Setup::fast_progress) << static_cast<int>(id)
                << head + fast + table_args;
        }
    }

    void command_table_is_redirected() {
        QFETCH(int, setup);
        QFETCH(int, id);
        QFETCH(QStringList, args);
        DFU::commands = saved_commands_; // a second setup would prefix the arguments again
        simulator::setup_for_simulated_dfu_util(static_cast<simulator::Setup>(setup));
        QCOMPARE(DFU::commands.size(), size_t(7));
        for (const auto& entry : DFU::commands)
            QCOMPARE(entry.second.program, simulator::dfu_util_path(script));
        QCOMPARE(DFU::commands[static_cast<CmdID>(id)].args, args);
    }

    void flash_uploads_differ_only_in_their_length() {
        DFU::commands = saved_commands_;
        simulator::setup_for_simulated_dfu_util(simulator::Setup::normal);
        const QStringList info = DFU::commands[CmdID::upload_FW_info].args;
        const QStringList full = DFU::commands[CmdID::upload_FW].args;
        QCOMPARE(info, (full + QStringList{"-s", "0x08000000:2048", "-U"}));
    }

    void dfu_util_path_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("the script") << script;
        QTest::newRow("another name") << QStringLiteral("CONFIGURATIONS.md");
        QTest::newRow("empty name") << QString();
    }

    void dfu_util_path() {
        QFETCH(QString, name);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_->path()));
        const QString path = simulator::dfu_util_path(name);
        QVERIFY(QDir::setCurrent(before));
        // The script lies beside the simulator program, in the build tree.
        QCOMPARE(path, QFileInfo(QStringLiteral(ORVANTA_DFU_SIMULATOR)).absolutePath() + "/" + name);
    }

    void script_can_be_started_directly() {
        const QFileInfo info(simulator::dfu_util_path(script));
        QVERIFY(info.isAbsolute());
        QVERIFY(info.isFile());
        QVERIFY(info.isExecutable());
        QVERIFY(read_all(info.filePath()).startsWith("#!/usr/bin/env bash\n"));
    }

    void sim_setup_prepared_config_data() {
        QTest::addColumn<bool>("stand_in");
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("code");
        QTest::newRow("a prepared configuration") << false << "two_units" << 0;
        QTest::newRow("an unknown configuration") << false << "no_such_configuration" << 64;
        QTest::newRow("a script that exits with 3") << true << "older_revision" << 3;
    }

    void sim_setup_prepared_config() {
        QFETCH(bool, stand_in);
        QFETCH(QString, config);
        QFETCH(int, code);
        if (stand_in) {
            const QString path = work_path("exits_3.sh");
            QVERIFY(write_all(path, "#!/bin/sh\nexit 3\n"));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
            DFU::commands[CmdID::setup_prepared_config].program = path;
        }
        MessageLog log;
        QCOMPARE(simulator::sim_setup_prepared_config(config), code);
        const QString message =
            QStringLiteral("Failed to setup simulation config  \"%1\" with code %2").arg(config).arg(code);
        QCOMPARE(log.count("Failed to setup simulation config"), code == 0 ? 0 : 1);
        if (code != 0)
            QVERIFY2(log.texts(QtInfoMsg).contains(message), qPrintable(log.texts().join('\n')));
    }

    // --- the script, as dfu-util ----------------------------------------------------------------

    void version_prints_the_banner_of_dfu_util_0_9() {
        const DFU::CmdResult r = DFU::run_command(CmdID::version, {});
        QCOMPARE(r.exit_code, 0);
        QCOMPARE(r.output, DFU::dfu_util::expected_output_of_execution_test);
        QVERIFY(DFU::dfu_util::execution_test());
    }

    void default_configuration_lists_one_unit_in_the_bootloader() {
        bool ok = false;
        const std::vector<ListingLine> lines = list(&ok);
        QVERIFY(ok);
        QCOMPARE(lines.size(), size_t(4));
        const QStringList names = {
            "@Device Feature/0xFFFF0000/01*004 e",
            "@OTP Memory /0x1FFF7800/01*512 e,01*016 e",
            "@Option Bytes  /0x1FFFC000/01*016 e",
            "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg",
        };
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(lines[i].alt, 3 - i);
            QCOMPARE(lines[i].name, names[i]);
            QCOMPARE(lines[i].serial, lines[0].serial);
        }
        int code = no_such_process;
        const InfoBlock block = info_block(upload(CmdID::upload_FW_info, {}, &code));
        QCOMPARE(code, 0);
        QCOMPARE(block.revision, QStringLiteral("B7")); // the upgrade path
    }

    void listing_shows_each_unit_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("units");
        QTest::newRow("no unit") << "no_unit" << 0;
        QTest::newRow("one unit") << "older_revision" << 1;
        QTest::newRow("two units") << "two_units" << 2;
    }

    void listing_shows_each_unit() {
        QFETCH(QString, config);
        QFETCH(int, units);
        QCOMPARE(configure(config), 0);
        const DFU::CmdResult r = DFU::run_command(CmdID::list, {});
        QCOMPARE(r.exit_code, 0);
        if (units == 0)
            QCOMPARE(r.output, DFU::dfu_util::expected_output_of_execution_test);
        bool ok = false;
        const std::vector<ListingLine> lines = listing_lines(r.output, &ok);
        QVERIFY(ok);
        QCOMPARE(lines.size(), size_t(4 * units));
        QStringList serials;
        for (size_t i = 0; i < lines.size(); ++i) {
            QCOMPARE(lines[i].alt, 3 - static_cast<int>(i % 4));
            QCOMPARE(lines[i].serial, lines[i - i % 4].serial); // one unit's lines together
            if (i % 4 == 0)
                serials << lines[i].serial;
        }
        serials.removeDuplicates();
        QCOMPARE(serials.size(), units);
    }

    void transfers_need_exactly_one_unit_data() {
        QTest::addColumn<QString>("config");
        QTest::newRow("no unit") << "no_unit";
        QTest::newRow("two units") << "two_units";
    }

    void transfers_need_exactly_one_unit() {
        QFETCH(QString, config);
        QCOMPARE(configure(config), 0);
        const QString path = work_path("otp.bin");
        QCOMPARE(DFU::run_command(CmdID::upload_OTP, {path}).exit_code, 74);
        QVERIFY(!QFile::exists(path)); // the unit is looked for before the file is made
        QVERIFY(put_firmware_dfu());
        QCOMPARE(DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")}).exit_code, 74);
    }

    void configurations_present_their_units_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QByteArray>("otp_product"); // empty: blank OTP
        QTest::addColumn<QByteArray>("fw_product");
        QTest::addColumn<QString>("fw_name");
        QTest::addColumn<QString>("fw_revision");
        const QByteArray lumo7 = QByteArray::fromHex("03ffffff");
        const QByteArray k5 = QByteArray::fromHex("2bffffff");
        QTest::newRow("older revision") << "older_revision" << lumo7 << lumo7 << "LUMO7" << "B7";
        QTest::newRow("desired firmware") << "desired_firmware" << lumo7 << lumo7 << "LUMO7" << "B8";
        QTest::newRow("desired revision, other bytes")
            << "desired_revision_differs" << lumo7 << lumo7 << "LUMO7" << "B8";
        QTest::newRow("other product") << "other_product" << k5 << k5 << "K5" << "C3";
        QTest::newRow("blank OTP") << "blank_otp" << QByteArray() << lumo7 << "LUMO7" << "B7";
        QTest::newRow("unknown product code")
            << "unknown_product" << QByteArray::fromHex("2affffff") << QByteArray::fromHex("2affffff")
            << "X42" << "A1";
        QTest::newRow("firmware of another product") << "foreign_firmware" << lumo7 << k5 << "K5" << "C3";
        QTest::newRow("download fails") << "download_fails" << lumo7 << lumo7 << "LUMO7" << "B7";
        QTest::newRow("lost during download")
            << "lost_during_download" << lumo7 << lumo7 << "LUMO7" << "B7";
    }

    void configurations_present_their_units() {
        QFETCH(QString, config);
        QFETCH(QByteArray, otp_product);
        QFETCH(QByteArray, fw_product);
        QFETCH(QString, fw_name);
        QFETCH(QString, fw_revision);
        QVERIFY(put_firmware_dfu());
        QCOMPARE(configure(config), 0);

        int code = no_such_process;
        const QByteArray otp = upload(CmdID::upload_OTP, {}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(otp.size(), 512);
        const int erased_from = otp_product.isEmpty() ? 0 : 16;
        if (!otp_product.isEmpty()) {
            QCOMPARE(otp.left(4), QByteArray("\x11\x47\x23\x01", 4));
            QCOMPARE(otp.mid(4, 4), otp_product);
        }
        QCOMPARE(otp.mid(erased_from), QByteArray(512 - erased_from, '\xFF'));

        const QByteArray head = upload(CmdID::upload_FW_info, {}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(head.size(), 2048);
        const InfoBlock block = info_block(head);
        QVERIFY(block.found);
        QCOMPARE(block.product, fw_product);
        QCOMPARE(block.name, fw_name);
        QCOMPARE(block.revision, fw_revision);
        QVERIFY(block.pairs > 0);
    }

    void both_flash_uploads_read_the_same_bytes() {
        int info_code = no_such_process;
        int full_code = no_such_process;
        const QByteArray info = upload(CmdID::upload_FW_info, {}, &info_code);
        const QByteArray full = upload_flash(2048, &full_code);
        QCOMPARE(info_code, 0);
        QCOMPARE(full_code, 0);
        QCOMPARE(info.size(), 2048);
        QCOMPARE(info, full);
    }

    void uploads_pad_beyond_the_stored_image_with_erased_bytes() {
        int code = no_such_process;
        const QByteArray small = upload_flash(4096, &code);
        QCOMPARE(code, 0);
        const QByteArray large = upload_flash(image_size, &code);
        QCOMPARE(code, 0);
        QCOMPARE(large.size(), image_size);
        QCOMPARE(large.left(4096), small);
        QCOMPARE(large.right(4096), QByteArray(4096, '\xFF'));
    }

    void upload_refuses_an_existing_file_data() {
        QTest::addColumn<int>("id");
        QTest::newRow("OTP") << static_cast<int>(CmdID::upload_OTP);
        QTest::newRow("firmware information") << static_cast<int>(CmdID::upload_FW_info);
    }

    void upload_refuses_an_existing_file() {
        QFETCH(int, id);
        const QString path = work_path("earlier.bin");
        QVERIFY(write_all(path, "an earlier unit's data"));
        QCOMPARE(DFU::run_command(static_cast<CmdID>(id), {path}).exit_code, 74);
        QCOMPARE(read_all(path), QByteArray("an earlier unit's data"));
    }

    void download_then_upload_returns_the_desired_image() {
        QVERIFY(put_firmware_dfu());
        const DFU::CmdResult r = DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")});
        QCOMPARE(r.exit_code, 0);
        QVERIFY(r.output.startsWith(DFU::dfu_util::expected_output_of_execution_test));
        QVERIFY(r.output.contains("parsing element 1, address = 0x08000000, size = 400308\n"));
        QVERIFY(r.output.contains("Download done.\ndone parsing DfuSe file\n"));

        int code = no_such_process;
        QCOMPARE(upload_flash(image_size, &code), read_all(":resources/firmware.bin"));
        QCOMPARE(code, 0);
        QCOMPARE(info_block(upload(CmdID::upload_FW_info, {}, &code)).revision, QStringLiteral("B8"));
    }

    void desired_firmware_is_learnt_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("named_by_environment");
        QTest::addColumn<bool>("equal");
        QTest::newRow("match, firmware.dfu beside the upload") << "desired_firmware" << false << true;
        QTest::newRow("match, file named by the environment") << "desired_firmware" << true << true;
        QTest::newRow("other bytes, firmware.dfu beside the upload")
            << "desired_revision_differs" << false << false;
    }

    void desired_firmware_is_learnt() {
        QFETCH(QString, config);
        QFETCH(bool, named_by_environment);
        QFETCH(bool, equal);
        if (named_by_environment) {
            const QString elsewhere = state_->filePath("desired.dfu");
            QVERIFY(QFile::copy(":resources/firmware.dfu", elsewhere));
            qputenv("ORVANTA_SIMULATOR_DESIRED_DFU", QFile::encodeName(elsewhere));
        } else {
            QVERIFY(put_firmware_dfu());
        }
        QCOMPARE(configure(config), 0);
        int code = no_such_process;
        const QByteArray flash = upload_flash(image_size, &code);
        QCOMPARE(code, 0);
        const QByteArray desired = read_all(":resources/firmware.bin");
        QCOMPARE(flash.size(), desired.size());
        int differences = 0;
        for (int i = 0; i < flash.size(); ++i)
            differences += flash[i] != desired[i] ? 1 : 0;
        if (equal) {
            QCOMPARE(differences, 0);
        } else {
            QVERIFY(differences > 0 && differences < 8);
            QCOMPARE(flash.left(2048), desired.left(2048)); // the same information block
        }
    }

    void failed_download_leaves_flash_unchanged_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<int>("code");
        const QByteArray dfu = read_all(":resources/firmware.dfu");
        QByteArray broken_crc = dfu;
        broken_crc[1000] = static_cast<char>(broken_crc[1000] ^ 1);
        QByteArray signature = dfu;
        signature[4] = 'x';
        QByteArray version = dfu;
        version[5] = 2;
        QByteArray target = dfu;
        target[11] = 'X';
        QByteArray element = dfu;
        element[11 + 274 + 6] = 0x10; // size grows past the end of the file

        QTest::newRow("the unit refuses the erase") << "download_fails" << dfu << 74;
        QTest::newRow("missing file") << "older_revision" << QByteArray() << 74;
        QTest::newRow("raw image, no DFU suffix")
            << "older_revision" << read_all(":resources/firmware.bin") << 74;
        QTest::newRow("suffix CRC does not match") << "older_revision" << broken_crc << 74;
        QTest::newRow("no DfuSe signature") << "older_revision" << with_good_crc(signature) << 74;
        QTest::newRow("DfuSe format version 2") << "older_revision" << with_good_crc(version) << 74;
        QTest::newRow("no target signature") << "older_revision" << with_good_crc(target) << 74;
        // dfu-util 0.9 calls a file whose element runs past its end a software error.
        QTest::newRow("element larger than the file") << "older_revision" << with_good_crc(element) << 70;
        QTest::newRow("file too small for a DfuSe file")
            << "older_revision" << with_good_crc(dfu.left(100) + dfu.right(16)) << 70;
    }

    void failed_download_leaves_flash_unchanged() {
        QFETCH(QString, config);
        QFETCH(QByteArray, file);
        QFETCH(int, code);
        QCOMPARE(configure(config), 0);
        int upload_code = no_such_process;
        const QByteArray before = upload_flash(image_size, &upload_code);
        QCOMPARE(upload_code, 0);

        const QString path = work_path("firmware.dfu");
        if (!file.isNull())
            QVERIFY(write_all(path, file));
        QCOMPARE(DFU::run_command(CmdID::download_FW, {path}).exit_code, code);

        QCOMPARE(upload_flash(image_size, &upload_code), before);
        QCOMPARE(upload_code, 0);
    }

    void prepared_failures_say_what_dfu_util_says_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("err");
        const auto row = [](const char* name, const char* config, CmdID id, int code, const QByteArray& err) {
            QTest::newRow(name) << config << static_cast<int>(id) << code << err;
        };
        const QByteArray denied = "dfu-util: Cannot open DFU device 0483:df11\n";
        const QByteArray no_unit = "dfu-util: No DFU capable USB device available\n";
        const QByteArray claimed = "dfu-util: Cannot claim interface\n";
        row("no access: listing", "no_access", CmdID::list, 0, denied);
        row("no access: upload", "no_access", CmdID::upload_OTP, 74, denied + no_unit);
        row("busy: listing", "unit_busy", CmdID::list, 0, "");
        row("busy: upload", "unit_busy", CmdID::upload_OTP, 74, claimed);
        row("unit lost", "lost_during_download", CmdID::download_FW, 74,
            "dfu-util: Error during download\n"
            "dfu-util: dfuse_download: libusb_control_transfer returned -4\n");
    }

    // Standard error and exit code as dfu-util's for the same trouble; a listing without
    // complaint lists the unit; a failed upload leaves no file.
    void prepared_failures_say_what_dfu_util_says() {
        QFETCH(QString, config);
        QFETCH(int, id);
        QFETCH(int, code);
        QFETCH(QByteArray, err);
        QVERIFY(put_firmware_dfu());
        QCOMPARE(configure(config), 0);
        const auto cmd = static_cast<CmdID>(id);
        const QString otp = work_path("otp.bin");
        const QStringList extra{cmd == CmdID::upload_OTP ? otp : work_path("firmware.dfu")};

        const ProgramRun r = run_program(cmd, cmd == CmdID::list ? QStringList() : extra);

        QCOMPARE(r.exit_code, code);
        QCOMPARE(r.err, err);
        if (cmd == CmdID::list) {
            bool ok = false;
            QCOMPARE(listing_lines(QString::fromUtf8(r.out), &ok).size(), size_t(err.isEmpty() ? 4 : 0));
            QVERIFY(ok);
        }
        QVERIFY(!QFile::exists(otp));
    }

    void unit_lost_during_download_comes_back_with_a_partial_image() {
        QCOMPARE(configure("lost_during_download"), 0);
        bool ok = false;
        const std::vector<ListingLine> before = list(&ok);
        QVERIFY(ok);
        QCOMPARE(before.size(), size_t(4));
        QVERIFY(put_firmware_dfu());
        QCOMPARE(DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")}).exit_code, 74);

        int absent = 0;
        std::vector<ListingLine> lines;
        while (absent < 20) {
            lines = list(&ok);
            QVERIFY(ok);
            if (!lines.empty())
                break;
            ++absent;
        }
        QVERIFY(absent > 0);
        QCOMPARE(lines.size(), size_t(4));
        QCOMPARE(lines[0].serial, before[0].serial);

        // The part written before the unit went carries the new information block, the rest
        // is not the desired firmware: only the verification can tell.
        int code = no_such_process;
        const QByteArray desired = read_all(":resources/firmware.bin");
        const QByteArray flash = upload_flash(image_size, &code);
        QCOMPARE(code, 0);
        QCOMPARE(info_block(flash).revision, QStringLiteral("B8"));
        QVERIFY(flash != desired);

        // Plugged in again, it takes the next download whole.
        QCOMPARE(DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")}).exit_code, 0);
        QCOMPARE(upload_flash(image_size, &code), desired);
    }

    // The tool polls from its worker while a configuration may be set up from elsewhere. A
    // run waits while another holds the state, so that no listing sees a state half torn down
    // (which once made a listing rebuild the default unit over the new configuration).
    void runs_wait_for_the_one_holding_the_state() {
        QCOMPARE(configure("other_product"), 0);
        QProcess holder; // holds the lock as a long download would
        holder.start("flock", {state_->filePath("lock"), "sh", "-c", "echo held; read line"});
        QVERIFY(holder.waitForReadyRead(60000));
        const QString program = simulator::dfu_util_path(script);
        QProcess setup;
        setup.start(program, {"--dfu-util-command", "setup_prepared_config", "foreign_firmware"});
        QProcess listing;
        listing.start(program, DFU::commands[CmdID::list].args);
        QVERIFY(setup.waitForStarted(60000) && listing.waitForStarted(60000));
        // Both still wait for the lock (they end in a few milliseconds otherwise).
        QVERIFY(!setup.waitForFinished(300));
        QCOMPARE(listing.state(), QProcess::Running);

        holder.write("done\n");
        QVERIFY(holder.waitForFinished(60000));
        QVERIFY(setup.waitForFinished(60000) && listing.waitForFinished(60000));
        QCOMPARE(setup.exitCode(), 0);
        QCOMPARE(listing.exitCode(), 0);
        bool ok = false;
        const std::vector<ListingLine> lines = list(&ok);
        QVERIFY(ok);
        QCOMPARE(lines.size(), size_t(4));
        QCOMPARE(lines[0].serial, QStringLiteral("3776367B3540")); // the foreign_firmware unit
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
