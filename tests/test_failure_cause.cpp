// The classifier of failed dfu-util runs, on what dfu-util 0.9 really prints.

#include "dfu/failure_cause.h"
#include "fake_dfu_util.h"

#include <QtTest>

Q_DECLARE_METATYPE(DFU::Cause)

namespace {

const QString banner =
    QStringLiteral("dfu-util 0.9\n\n"
                   "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
                   "Copyright 2010-2016 Tormod Volden and Stefan Schmidt\n"
                   "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
                   "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n\n");
const QString opening = QStringLiteral(
    "Opening DFU capable USB device...\nID 0483:df11\nRun-time device DFU version 011a\n"
    "Claiming USB DFU Interface...\n");

} // namespace

class TestFailureCause : public QObject {
    Q_OBJECT
private slots:
    void every_cause_from_dfu_utils_own_words_data() {
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error_output");
        QTest::addColumn<bool>("failed_to_start");
        QTest::addColumn<DFU::Cause>("cause");
        QTest::addColumn<QString>("detail");
        const QString listing = FakeDfuUtil::listing_line("3776367B3036", 0);

        QTest::newRow("none") << 0 << banner + listing << QString() << false << DFU::Cause::none
                              << QString();
        QTest::newRow("no_access: the listing leaves the unit out and exits 0")
            << 0 << banner << "dfu-util: Cannot open DFU device 0483:df11\n"
            << false << DFU::Cause::no_access << "dfu-util: Cannot open DFU device 0483:df11";
        QTest::newRow("no_access: an upload then finds no unit")
            << 74 << banner
            << "dfu-util: Cannot open DFU device 0483:df11\n"
               "dfu-util: No DFU capable USB device available\n"
            << false << DFU::Cause::no_access << "dfu-util: No DFU capable USB device available";
        QTest::newRow("busy") << 74 << banner + opening << "dfu-util: Cannot claim interface\n"
                              << false << DFU::Cause::busy << "dfu-util: Cannot claim interface";
        QTest::newRow("lost in a download")
            << 74
            << banner + opening + "Download\t[=========                ]  36%       147456 bytes"
            << "dfu-util: dfuse_download: libusb_control_transfer returned -4\n"
            << false << DFU::Cause::lost
            << "dfu-util: dfuse_download: libusb_control_transfer returned -4";
        QTest::newRow("lost in an upload")
            << 74 << banner + opening << "dfuse_upload: libusb_control_msg returned -4\n"
            << false << DFU::Cause::lost << "dfuse_upload: libusb_control_msg returned -4";
        QTest::newRow("lost before the run reached it")
            << 74 << banner << "dfu-util: No DFU capable USB device available\n"
            << false << DFU::Cause::lost << "dfu-util: No DFU capable USB device available";
        QTest::newRow("refused")
            << 74 << banner + opening
            << "dfu-util: dfuse_download: libusb_control_transfer returned -9\n"
            << false << DFU::Cause::refused
            << "dfu-util: dfuse_download: libusb_control_transfer returned -9";
        QTest::newRow("crashed") << -1 << banner + opening << QString() << false
                                 << DFU::Cause::crashed << QString();
        QTest::newRow("not_started")
            << -1 << QString() << QString() << true << DFU::Cause::not_started
            << "execvp: No such file or directory";
        QTest::newRow("other: the last line of standard error")
            << 74
            << banner + opening + "state(10) = dfuERROR, status(4) = Memory erase function failed\n"
            << "dfu-util: Error during special command \"ERASE_PAGE\" get_status\n"
               "dfu-util: Wrong state after command \"ERASE_PAGE\" download\n"
            << false << DFU::Cause::other
            << "dfu-util: Wrong state after command \"ERASE_PAGE\" download";
        QTest::newRow("other: nothing said")
            << 74 << banner << QString() << false << DFU::Cause::other << QString();
    }
    void every_cause_from_dfu_utils_own_words() {
        QFETCH(int, exit_code);
        QFETCH(QString, output);
        QFETCH(QString, error_output);
        QFETCH(bool, failed_to_start);
        QFETCH(DFU::Cause, cause);
        QFETCH(QString, detail);
        DFU::CmdResult result;
        result.exit_code = exit_code;
        result.output = output;
        result.error_output = error_output;
        result.failed_to_start = failed_to_start;
        if (failed_to_start)
            result.start_error = QStringLiteral("execvp: No such file or directory");

        const DFU::Failure failure = DFU::classify(result);

        QCOMPARE(DFU::to_QString(failure.cause), DFU::to_QString(cause));
        QCOMPARE(failure.detail, detail);
    }
};

QTEST_GUILESS_MAIN(TestFailureCause)
#include "test_failure_cause.moc"
