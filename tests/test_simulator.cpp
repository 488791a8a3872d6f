// Simulator mode: the redirected command table, and the script that plays dfu-util 0.9 and the
// units, driven through the same runner the program uses.

#include "device/bytes.h"
#include "device/fw_info.h"
#include "device/record_writers.h"
#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "dfu/dfuse_file.h"
#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "file_contents.h"
#include "message_log.h"
#include "simulator/simulator.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>
#include <set>
#include <vector>

using namespace Device::memory_map;

using DFU::CmdID;

namespace {

const QString script = QStringLiteral("dfu-util_simulator.sh");
const QString banner = DFU::dfu_util::expected_output_of_execution_test;
constexpr int image_size = 400308; // the desired firmware

// The desired firmware's DfuSe file with its body changed and the suffix CRC made right again,
// so that the reader gets past the suffix to the fault.
QByteArray with_good_crc(QByteArray file) {
    file.chop(4);
    return file + Device::bytes::le32_bytes(DFU::DfuSe::suffix_crc(file));
}

QByteArray product_bytes(const Device::ProductInfo& p) {
    const char bytes[] = {static_cast<char>(p.raw_type), static_cast<char>(p.byte1),
                          static_cast<char>(p.byte2), static_cast<char>(p.byte3)};
    return QByteArray(bytes, 4);
}

struct ListingLine {
    int alt;
    QString name;
    QString serial;
    QString path;
};

// The lines after the banner, each in dfu-util 0.9's listing format. Output of another shape
// gives a single line of alt -1 holding it, which no test expects.
std::vector<ListingLine> listing_lines(const QString& output) {
    static const QRegularExpression shape(QStringLiteral(
        R"re(^Found DFU: \[0483:df11\] ver=2200, devnum=\d+, cfg=1, intf=0, path="([^"]+)", )re"
        R"re(alt=(\d), name="([^"]*)", serial="([0-9A-Fa-f]+)"$)re"));
    const std::vector<ListingLine> other{{-1, output, QString(), QString()}};
    std::vector<ListingLine> lines;
    for (const QString& line : output.mid(banner.size()).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = shape.match(line);
        if (!m.hasMatch())
            return other;
        lines.push_back({m.captured(2).toInt(), m.captured(3), m.captured(4), m.captured(1)});
    }
    return output.startsWith(banner) ? lines : other;
}

// Reads the run's standard output until it holds `text`; false when the run ends first.
bool read_until(QProcess& run, const QByteArray& text, QByteArray& seen) {
    while (!seen.contains(text)) {
        if (!run.waitForReadyRead(60000))
            return false;
        seen += run.readAllStandardOutput();
    }
    return true;
}

const QByteArray progress_begun = "Download\t[";

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

    std::map<CmdID, DFU::Command> saved_commands_;
    QString saved_path_;
    std::unique_ptr<QTemporaryDir> work_; // the simulator's state in its folder "state"
    int uploads_ = 0;

    QString work_path(const QString& name) const { return work_->filePath(name); }

    // What the program has in its extraction directory: the desired firmware's DfuSe file.
    bool put_firmware_dfu() {
        return QFile::copy(":resources/firmware.dfu", work_path("firmware.dfu"));
    }

    int configure(const QString& name) {
        return DFU::run_command(CmdID::setup_prepared_config, {name}).exit_code;
    }

    // Runs an upload into a fresh file of the work directory; returns the file's bytes, or
    // "exit code N" when it fails, which no comparison with an image passes.
    QByteArray upload(CmdID id, QStringList args = {}) {
        const QString path = work_path(QStringLiteral("upload_%1.bin").arg(++uploads_));
        const int code = DFU::run_command(id, args << path).exit_code;
        return code == 0 ? read_all(path) : "exit code " + QByteArray::number(code);
    }
    QByteArray upload_flash(int size) {
        return upload(CmdID::upload_FW, {"-s", region_text(flash_base, size), "-U"});
    }

    // The flash of every unit listed, read by its port.
    std::map<QString, QByteArray> flashes() {
        std::map<QString, QByteArray> read;
        for (const QString& port : ports())
            read[port] = upload(CmdID::upload_FW,
                                {"-p", port, "-s", region_text(flash_base, image_size), "-U"});
        return read;
    }

    // A run of the simulator program beside this one, as another of the program's workers.
    std::unique_ptr<QProcess> start(const QStringList& args) {
        auto run = std::make_unique<QProcess>();
        run->start(simulator::dfu_util_path(script), args);
        return run;
    }
    std::unique_ptr<QProcess> start_download(const QString& port) {
        return start(DFU::commands[CmdID::download_FW].args +
                     QStringList{work_path("firmware.dfu"), "-p", port});
    }

    std::vector<ListingLine> list(const QStringList& selection = {}) {
        const DFU::CmdResult r = DFU::run_command(CmdID::list, selection);
        return r.exit_code == 0 ? listing_lines(r.output)
                                : std::vector<ListingLine>{{-1, r.output, QString(), QString()}};
    }
    // The ports listed, each once, in listing order.
    QStringList ports(const QStringList& selection = {}) {
        QStringList listed;
        for (const ListingLine& line : list(selection))
            listed << line.path;
        listed.removeDuplicates();
        return listed;
    }

private slots:
    void init() {
        saved_commands_ = DFU::commands;
        saved_path_ = DFU::Command::path;
        DFU::Command::path.clear();
        work_ = std::make_unique<QTemporaryDir>();
        QVERIFY(work_->isValid());
        qputenv("ORVANTA_SIMULATOR_STATE_DIR", QFile::encodeName(work_path("state")));
        qunsetenv("ORVANTA_SIMULATOR_DESIRED_DFU");
        // What most tests run; the command table test starts again from the saved table.
        simulator::setup_for_simulated_dfu_util(simulator::Setup::fast_progress);
    }

    void cleanup() {
        DFU::commands = saved_commands_;
        DFU::Command::path = saved_path_;
        qunsetenv("ORVANTA_SIMULATOR_STATE_DIR");
        qunsetenv("ORVANTA_SIMULATOR_DESIRED_DFU");
        work_.reset();
    }

    // --- the command table -------------------------------------------------------------------

    // Every command line runs the script with a command name ahead of its own arguments.
    // Both flash uploads are "upload_FW": the script tells them apart by their "-s" length.
    void command_table_is_redirected() {
        for (const bool fast : {false, true}) {
            DFU::commands = saved_commands_; // a second setup would prefix the arguments again
            simulator::setup_for_simulated_dfu_util(fast ? simulator::Setup::fast_progress
                                                         : simulator::Setup::normal);
            QCOMPARE(DFU::commands.size(), saved_commands_.size());
            const QStringList speed = fast ? QStringList{"--fast-progress"} : QStringList();
            for (const auto& [id, command] : DFU::commands) {
                QCOMPARE(command.program, simulator::dfu_util_path(script));
                QCOMPARE(command.args.value(0), QStringLiteral("--dfu-util-command"));
                QCOMPARE(command.args.mid(2), speed + saved_commands_[id].args);
            }
            QCOMPARE(DFU::commands[CmdID::upload_FW_info].args.value(1),
                     QStringLiteral("upload_FW"));
            QCOMPARE(DFU::commands[CmdID::download_FW].args.value(1),
                     QStringLiteral("download_FW"));
        }
    }

    // The script lies beside the simulator program, in the build tree, starts by itself and
    // passes the program's execution test with dfu-util 0.9's banner.
    void script_is_dfu_util_0_9_beside_the_simulator_program() {
        const QFileInfo info(simulator::dfu_util_path(script));
        QCOMPARE(info.absolutePath(),
                 QFileInfo(QStringLiteral(ORVANTA_DFU_SIMULATOR)).absolutePath());
        QVERIFY(info.isAbsolute() && info.isFile() && info.isExecutable());
        QVERIFY(read_all(info.filePath()).startsWith("#!/usr/bin/env bash\n"));
        const DFU::CmdResult r = DFU::run_command(CmdID::version, {});
        QCOMPARE(r.exit_code, 0);
        QCOMPARE(r.output, banner);
        QVERIFY(DFU::dfu_util::execution_test());
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
            QStringLiteral("Failed to setup simulation config  \"%1\" with code %2")
                .arg(config)
                .arg(code);
        const QStringList expected = code == 0 ? QStringList() : QStringList{message};
        QCOMPARE(log.texts().filter("Failed to setup"), expected);
        QCOMPARE(log.texts(QtInfoMsg).filter("Failed to setup"), expected);
    }

    // --- the script, as dfu-util ----------------------------------------------------------------

    // Each unit listed with its four alternate settings together, the highest first, on a port
    // of its own; a single unit's OTP record and the information block in the first 2048 bytes
    // of its flash. The default (no configuration set up) is the upgrade path.
    void configurations_present_their_units_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("units");
        QTest::addColumn<int>("serials"); // different ones among them
        QTest::addColumn<QByteArray>("otp_product"); // empty: blank OTP
        QTest::addColumn<QByteArray>("fw_product");
        QTest::addColumn<QString>("fw_name");
        QTest::addColumn<QString>("fw_revision");
        const QByteArray lumo7 = QByteArray::fromHex("03ffffff");
        const QByteArray k5 = QByteArray::fromHex("2bffffff");
        const QByteArray unknown = QByteArray::fromHex("2affffff");
        const auto row = [](const char* name, const char* config, int units, const QByteArray& otp,
                            const QByteArray& fw, const char* fw_name, const char* revision) {
            QTest::newRow(name) << config << units << units << otp << fw << fw_name << revision;
        };
        row("the default", "", 1, lumo7, lumo7, "LUMO7", "B7");
        row("no unit", "no_unit", 0, {}, {}, "", "");
        row("two units", "two_units", 2, {}, {}, "", "");
        row("four units", "four_units", 4, {}, {}, "", "");
        row("four units, one to be lost", "four_units_one_lost", 4, {}, {}, "", "");
        QTest::newRow("two units, one serial")
            << "two_units_same_serial" << 2 << 1 << QByteArray() << QByteArray() << "" << "";
        row("older revision", "older_revision", 1, lumo7, lumo7, "LUMO7", "B7");
        row("desired firmware", "desired_firmware", 1, lumo7, lumo7, "LUMO7", "B8");
        row("other product", "other_product", 1, k5, k5, "K5", "C3");
        row("blank OTP", "blank_otp", 1, {}, lumo7, "LUMO7", "B7");
        row("unknown product code", "unknown_product", 1, unknown, unknown, "X42", "A1");
        row("firmware of another product", "foreign_firmware", 1, lumo7, k5, "K5", "C3");
    }

    void configurations_present_their_units() {
        QFETCH(QString, config);
        QFETCH(int, units);
        QFETCH(int, serials);
        QFETCH(QByteArray, otp_product);
        QFETCH(QByteArray, fw_product);
        QFETCH(QString, fw_name);
        QFETCH(QString, fw_revision);
        QVERIFY(put_firmware_dfu());
        QVERIFY(config.isEmpty() || configure(config) == 0);
        const std::vector<ListingLine> lines = list();
        QCOMPARE(lines.size(), size_t(4 * units));
        QStringList listed_serials;
        QStringList listed_ports;
        for (size_t i = 0; i < lines.size(); ++i) {
            QCOMPARE(lines[i].alt, 3 - static_cast<int>(i % 4));
            QCOMPARE(lines[i].name, FakeDfuUtil::alt_name(lines[i].alt));
            QCOMPARE(lines[i].serial, lines[i - i % 4].serial);
            QCOMPARE(lines[i].path, lines[i - i % 4].path);
            listed_serials << lines[i].serial;
            listed_ports << lines[i].path;
        }
        listed_serials.removeDuplicates();
        listed_ports.removeDuplicates();
        QCOMPARE(listed_serials.size(), serials);
        QCOMPARE(listed_ports.size(), units);
        if (units != 1)
            return; // a transfer needs exactly one unit (test_fake_dfu_util)

        const QByteArray otp = upload(CmdID::upload_OTP);
        QCOMPARE(otp.size(), 512);
        if (!otp_product.isEmpty())
            QCOMPARE(otp.left(8), QByteArray("\x11\x47\x23\x01", 4) + otp_product);
        const int erased_from = otp_product.isEmpty() ? 0 : 16;
        QCOMPARE(otp.mid(erased_from), QByteArray(512 - erased_from, '\xFF'));
        const Device::FW_Info block = Device::make_FW_Info(upload(CmdID::upload_FW_info));
        QVERIFY(block.valid);
        QCOMPARE(product_bytes(block.product), fw_product);
        QCOMPARE(block.name, fw_name);
        QCOMPARE(block.revision, fw_revision);
        QVERIFY(!block.details.empty());
    }

    // Both flash uploads read the same bytes; beyond the stored image the flash reads erased.
    void flash_uploads_read_the_image_then_erased_bytes() {
        const QByteArray info = upload(CmdID::upload_FW_info);
        const QByteArray small = upload_flash(4096);
        const QByteArray large = upload_flash(image_size);
        QCOMPARE(info.size(), 2048);
        QCOMPARE(small.left(2048), info);
        QCOMPARE(large.size(), image_size);
        QCOMPARE(large.left(4096), small);
        QCOMPARE(large.right(4096), QByteArray(4096, '\xFF'));
    }

    void uploads_refuse_an_existing_file() {
        const QString path = work_path("earlier.bin");
        QVERIFY(write_all(path, "an earlier unit's data"));
        for (const CmdID id : {CmdID::upload_OTP, CmdID::upload_FW_info}) {
            QCOMPARE(DFU::run_command(id, {path}).exit_code, 74);
            QCOMPARE(read_all(path), QByteArray("an earlier unit's data"));
        }
    }

    void download_then_upload_returns_the_desired_image() {
        QVERIFY(put_firmware_dfu());
        const DFU::CmdResult r = DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")});
        QCOMPARE(r.exit_code, 0);
        QVERIFY(r.output.startsWith(banner));
        QVERIFY(r.output.contains("parsing element 1, address = " + address_text(flash_base) +
                                  ", size = 400308\n"));
        QVERIFY(r.output.contains("Download done.\ndone parsing DfuSe file\n"));

        QCOMPARE(upload_flash(image_size), read_all(":resources/firmware.bin"));
        QCOMPARE(Device::make_FW_Info(upload(CmdID::upload_FW_info)).revision,
                 QStringLiteral("B8"));
    }

    // The older unit holds a revision other than the desired firmware's, whichever that is.
    void older_revision_differs_from_the_desired_data() {
        QTest::addColumn<QString>("desired");
        QTest::addColumn<QString>("older");
        QTest::newRow("desired B9") << "B9"
                                    << "B7";
        QTest::newRow("desired B7") << "B7"
                                    << "B6";
    }

    void older_revision_differs_from_the_desired() {
        QFETCH(QString, desired);
        QFETCH(QString, older);
        const QByteArray image = QByteArray(428, '\0') +
                                 Device::make_FW_Info_block({Device::VELK}, "LUMO7", desired, {});
        QVERIFY(write_all(work_path("firmware.dfu"), DFU::DfuSe::make_flash_file(image)));
        QCOMPARE(configure("older_revision"), 0);
        QCOMPARE(Device::make_FW_Info(upload(CmdID::upload_FW_info)).revision, older);
    }

    void desired_firmware_is_learnt_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("named_by_environment");
        QTest::addColumn<int>("differences"); // bytes after the information block
        QTest::newRow("match, firmware.dfu beside the upload") << "desired_firmware" << false << 0;
        QTest::newRow("match, file named by the environment") << "desired_firmware" << true << 0;
        QTest::newRow("other bytes, firmware.dfu beside the upload")
            << "desired_revision_differs" << false << 3;
    }

    void desired_firmware_is_learnt() {
        QFETCH(QString, config);
        QFETCH(bool, named_by_environment);
        QFETCH(int, differences);
        const QString elsewhere = work_path("desired.dfu"); // no "firmware.dfu" beside the upload
        QVERIFY(QFile::copy(":resources/firmware.dfu",
                            named_by_environment ? elsewhere : work_path("firmware.dfu")));
        if (named_by_environment)
            qputenv("ORVANTA_SIMULATOR_DESIRED_DFU", QFile::encodeName(elsewhere));
        QCOMPARE(configure(config), 0);
        const QByteArray flash = upload_flash(image_size);
        const QByteArray desired = read_all(":resources/firmware.bin");
        QCOMPARE(flash.size(), desired.size());
        int differing = 0;
        for (int i = 2048; i < flash.size(); ++i)
            differing += flash[i] != desired[i] ? 1 : 0;
        QCOMPARE(differing, differences);
        QCOMPARE(flash.left(2048), desired.left(2048)); // the same information block
    }

    void failed_download_leaves_flash_unchanged_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<int>("code");
        const QByteArray dfu = read_all(":resources/firmware.dfu");
        // The byte at `at` set to `value`, and the suffix CRC made right unless asked otherwise.
        const auto changed = [&dfu](int at, int value, bool crc_right = true) {
            QByteArray file = dfu;
            file[at] = static_cast<char>(value);
            return crc_right ? with_good_crc(file) : file;
        };
        QTest::newRow("the unit refuses the erase") << "download_fails" << dfu << 74;
        QTest::newRow("missing file") << "older_revision" << QByteArray() << 74;
        QTest::newRow("raw image, no DFU suffix")
            << "older_revision" << read_all(":resources/firmware.bin") << 74;
        QTest::newRow("suffix CRC does not match")
            << "older_revision" << changed(1000, dfu[1000] ^ 1, false) << 74;
        QTest::newRow("no DfuSe signature") << "older_revision" << changed(4, 'x') << 74;
        QTest::newRow("DfuSe format version 2") << "older_revision" << changed(5, 2) << 74;
        QTest::newRow("no target signature") << "older_revision" << changed(11, 'X') << 74;
        // dfu-util 0.9 calls a file whose element runs past its end a software error.
        QTest::newRow("element larger than the file")
            << "older_revision" << changed(11 + 274 + 6, 0x10) << 70;
        QTest::newRow("file too small for a DfuSe file")
            << "older_revision" << with_good_crc(dfu.left(100) + dfu.right(16)) << 70;
    }

    void failed_download_leaves_flash_unchanged() {
        QFETCH(QString, config);
        QFETCH(QByteArray, file);
        QFETCH(int, code);
        QCOMPARE(configure(config), 0);
        const QByteArray before = upload_flash(image_size);
        QCOMPARE(before.size(), image_size);
        const QString path = work_path("firmware.dfu");
        QVERIFY(file.isNull() || write_all(path, file));
        QCOMPARE(DFU::run_command(CmdID::download_FW, {path}).exit_code, code);
        QCOMPARE(upload_flash(image_size), before);
    }

    void unit_lost_during_download_comes_back_with_a_partial_image() {
        QCOMPARE(configure("lost_during_download"), 0);
        const std::vector<ListingLine> before = list();
        QCOMPARE(before.size(), size_t(4));
        QVERIFY(put_firmware_dfu());
        QCOMPARE(DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")}).exit_code, 74);

        int absent = 0;
        std::vector<ListingLine> lines;
        while (absent < 20 && (lines = list()).empty())
            ++absent;
        QVERIFY(absent > 0);
        QCOMPARE(lines.size(), size_t(4));
        QCOMPARE(lines[0].serial, before[0].serial);

        // The part written before the unit went carries the new information block, the rest
        // is not the desired firmware: only the verification can tell.
        const QByteArray desired = read_all(":resources/firmware.bin");
        const QByteArray flash = upload_flash(image_size);
        QCOMPARE(Device::make_FW_Info(flash).revision, QStringLiteral("B8"));
        QVERIFY(flash != desired);

        // Plugged in again, it takes the next download whole.
        QCOMPARE(DFU::run_command(CmdID::download_FW, {work_path("firmware.dfu")}).exit_code, 0);
        QCOMPARE(upload_flash(image_size), desired);
    }

    // --- several units, each on its port ------------------------------------------------------

    void a_port_limits_the_listing_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QStringList>("selection");
        QTest::addColumn<QStringList>("listed");
        const QStringList hub = {"1-1.1", "1-1.2", "1-1.3", "1-1.4"};
        const QStringList none;
        QTest::newRow("four units, no port") << "four_units" << none << hub;
        QTest::newRow("four units, one port")
            << "four_units" << QStringList{"-p", "1-1.3"} << QStringList{"1-1.3"};
        QTest::newRow("the hub's port: matched whole, not as a prefix")
            << "four_units" << QStringList{"-p", "1-1"} << none;
        QTest::newRow("an empty port") << "four_units" << QStringList{"-p", ""} << none;
        QTest::newRow("one of two with one serial")
            << "two_units_same_serial" << QStringList{"--path", "1-1.2"} << QStringList{"1-1.2"};
        QTest::newRow("one unit, the port joined to the option")
            << "older_revision" << QStringList{"-p1-1"} << QStringList{"1-1"};
    }

    void a_port_limits_the_listing() {
        QFETCH(QString, config);
        QFETCH(QStringList, selection);
        QFETCH(QStringList, listed);
        QCOMPARE(configure(config), 0);
        QCOMPARE(ports(selection), listed);
    }

    void a_download_writes_only_the_selected_unit_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QStringList>("selection");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("written"); // the port whose unit then holds the desired image
        QTest::addColumn<QString>("gone");    // the port whose unit then stays away
        const QString none;
        const auto port = [](const char* path) { return QStringList{"-p", path}; };
        QTest::newRow("one port of four") << "four_units" << port("1-1.2") << 0 << "1-1.2" << none;
        QTest::newRow("one port of two with one serial")
            << "two_units_same_serial" << port("1-1.2") << 0 << "1-1.2" << none;
        QTest::newRow("the serial two units share")
            << "two_units_same_serial" << QStringList{"-S", "3776367B4301"} << 74 << none << none;
        QTest::newRow("four units, no selection")
            << "four_units" << QStringList() << 74 << none << none;
        QTest::newRow("a port without a unit")
            << "four_units" << port("1-1.5") << 74 << none << none;
        QTest::newRow("a port and another unit's serial")
            << "four_units" << port("1-1.1") + QStringList{"-S", "3776367B4102"} << 74 << none
            << none;
        QTest::newRow("the unit unplugged in its download")
            << "four_units_one_lost" << port("1-1.3") << 74 << none << "1-1.3";
        QTest::newRow("the unit beside it")
            << "four_units_one_lost" << port("1-1.4") << 0 << "1-1.4" << none;
        QTest::newRow("one unit at its port")
            << "foreign_firmware" << port("1-1") << 0 << "1-1" << none;
    }

    // Every unit, read by its port, holds bytes of its own before; after, only the selected one
    // holds the desired image, a unit unplugged stays away for more scans than a lost unit
    // that comes back, and every other unit is as it was.
    void a_download_writes_only_the_selected_unit() {
        QFETCH(QString, config);
        QFETCH(QStringList, selection);
        QFETCH(int, code);
        QFETCH(QString, written);
        QFETCH(QString, gone);
        QCOMPARE(configure(config), 0);
        QVERIFY(put_firmware_dfu());
        const std::map<QString, QByteArray> before = flashes();
        std::set<QByteArray> distinct;
        for (const auto& [port, flash] : before)
            distinct.insert(flash);
        QCOMPARE(distinct.size(), before.size());

        const QStringList args = QStringList{work_path("firmware.dfu")} + selection;
        QCOMPARE(DFU::run_command(CmdID::download_FW, args).exit_code, code);
        for (int scan = 0; scan < 8; ++scan)
            ports();
        std::map<QString, QByteArray> expected = before;
        expected.erase(gone);
        if (!written.isEmpty())
            expected[written] = read_all(":resources/firmware.bin");
        const std::map<QString, QByteArray> after = flashes();
        QCOMPARE(after.size(), expected.size());
        for (const auto& [port, flash] : expected)
            QVERIFY2(after.count(port) == 1 && after.at(port) == flash, qPrintable(port));
    }

    // The tool polls from its worker while a configuration may be set up from elsewhere, and a
    // station transfers to several units at once. A run waits while another holds the lock it
    // needs, the state's (so that no listing sees a state half torn down, which once made a
    // listing rebuild the default unit over the new configuration) or a unit's, and only then.
    void runs_wait_only_for_the_lock_they_need_data() {
        QTest::addColumn<QString>("held"); // a lock file of the state, held as another run would
        QTest::addColumn<QStringList>("runs");    // started while it is held
        QTest::addColumn<QStringList>("waiting"); // those of them that wait for it
        QTest::newRow("the state's, by a configuration being set up")
            << "lock" << QStringList{"listing", "setup"} << QStringList{"listing", "setup"};
        QTest::newRow("unit 1-1.1's, by its download")
            << "units/1-1.1/lock" << QStringList{"listing", "1-1.2", "1-1.1"}
            << QStringList{"1-1.1"};
    }

    void runs_wait_only_for_the_lock_they_need() {
        QFETCH(QString, held);
        QFETCH(QStringList, runs);
        QFETCH(QStringList, waiting);
        QCOMPARE(configure("four_units"), 0);
        QVERIFY(put_firmware_dfu());
        QProcess holder;
        holder.start("flock", {work_path("state/" + held), "sh", "-c", "echo held; read line"});
        QVERIFY(holder.waitForReadyRead(60000));
        std::map<QString, std::unique_ptr<QProcess>> started;
        for (const QString& run : runs)
            started[run] = run == "listing" ? start(DFU::commands[CmdID::list].args)
                           : run == "setup"
                               ? start({"--dfu-util-command", "setup_prepared_config",
                                        "two_units_same_serial"})
                               : start_download(run); // a port
        for (const QString& run : runs)
            if (!waiting.contains(run))
                QVERIFY2(started[run]->waitForFinished(60000) && started[run]->exitCode() == 0,
                         qPrintable(run));
        for (const QString& run : waiting) // they end in a few milliseconds otherwise
            QVERIFY2(!started[run]->waitForFinished(300), qPrintable(run));

        holder.write("done\n");
        QVERIFY(holder.waitForFinished(60000));
        for (const QString& run : waiting)
            QVERIFY2(started[run]->waitForFinished(60000) && started[run]->exitCode() == 0,
                     qPrintable(run));
        QCOMPARE(ports().size(), runs.contains("setup") ? 2 : 4);
    }

    // Two downloads of seconds each into two units: the second is under way while the first
    // still runs, a listing meanwhile ends at once, and both end written. (tools/bench.sh
    // measures the time.)
    void downloads_into_two_units_go_at_once() {
        QCOMPARE(configure("four_units"), 0);
        QVERIFY(put_firmware_dfu());
        QVERIFY(write_all(work_path("state/download_seconds"), "3\n"));
        const std::unique_ptr<QProcess> first = start_download("1-1.1");
        QByteArray first_out;
        QVERIFY(read_until(*first, progress_begun, first_out));
        const std::unique_ptr<QProcess> second = start_download("1-1.2");
        QByteArray second_out;
        QVERIFY(read_until(*second, progress_begun, second_out));
        QVERIFY(!first->waitForFinished(300));
        QCOMPARE(ports().size(), 4);
        QVERIFY(!first->waitForFinished(0));

        for (QProcess* run : {first.get(), second.get()})
            QVERIFY(run->waitForFinished(60000) && run->exitCode() == 0);
        const std::map<QString, QByteArray> after = flashes();
        const QByteArray desired = read_all(":resources/firmware.bin");
        QVERIFY(after.at("1-1.1") == desired && after.at("1-1.2") == desired);
        QVERIFY(after.at("1-1.3") != desired);
    }

    // A configuration set up while a download runs takes effect at once and whole: the
    // download finds its unit gone at its end, as if unplugged, and writes nothing into the
    // unit now at its port.
    void a_configuration_set_up_during_a_download_replaces_its_unit() {
        QCOMPARE(configure("four_units"), 0);
        QVERIFY(put_firmware_dfu());
        const QByteArray prepared = flashes().at("1-1.1");
        QVERIFY(write_all(work_path("state/download_seconds"), "2\n"));
        const std::unique_ptr<QProcess> download = start_download("1-1.1");
        QByteArray out;
        QVERIFY(read_until(*download, progress_begun, out));
        QCOMPARE(configure("four_units"), 0);
        QVERIFY(!download->waitForFinished(0));

        QVERIFY(download->waitForFinished(60000));
        QCOMPARE(download->exitCode(), 74);
        QVERIFY(download->readAllStandardError().endsWith("libusb_control_transfer returned -4\n"));
        QVERIFY(flashes().at("1-1.1") == prepared);
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
