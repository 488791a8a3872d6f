// The program's switches and how they combine.

#include "app/command_line.h"
#include "simulator/simulator.h"

#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void init() { simulator::use = false; }

    void switches_set_the_two_flags_data() {
        QTest::addColumn<bool>("initially");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("simulator");
        QTest::addColumn<bool>("log_window");
        QTest::newRow("none") << false << QStringList() << false << false;
        QTest::newRow("s") << false << QStringList{"-s"} << true << false;
        QTest::newRow("S") << false << QStringList{"-S"} << false << false;
        QTest::newRow("S switches off what was on") << true << QStringList{"-S"} << false << false;
        QTest::newRow("s then S") << false << QStringList{"-s", "-S"} << false << false;
        QTest::newRow("S then s") << false << QStringList{"-S", "-s"} << false << false;
        QTest::newRow("s and l behind one dash") << false << QStringList{"-sl"} << true << true;
        QTest::newRow("long switches")
            << false << QStringList{"--use-simulator", "--use-log-window"} << true << true;
        QTest::newRow("long no-use-simulator")
            << false << QStringList{"--no-use-simulator", "-l"} << false << true;
        QTest::newRow("arguments that are not options are ignored")
            << false << QStringList{"file.txt", "-s"} << true << false;
    }
    void switches_set_the_two_flags() {
        QFETCH(bool, initially);
        QFETCH(QStringList, args);
        QFETCH(bool, simulator);
        QFETCH(bool, log_window);
        simulator::use = initially;
        const CommandLine line = parse_arguments(QStringList{"OrvantaFirmwareUpgradeTool"} + args);
        QCOMPARE(simulator::use, simulator);
        QCOMPARE(line.use_log_window, log_window);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
