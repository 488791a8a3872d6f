// The program's switches and how they combine.

#include "app/command_line.h"
#include "app/globals.h"
#include "message_log.h"
#include "simulator/simulator.h"

#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void init() {
        simulator::use = false;
        use_log_window = false;
    }

    void switches_set_the_two_flags_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("simulator");
        QTest::addColumn<bool>("log_window");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << QStringList() << false << false
                              << "Initial value of 'simulator::use'=false, isSet('-s')=false, isSet('-S')=false";
        QTest::newRow("s") << QStringList{"-s"} << true << false
                           << "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false";
        QTest::newRow("S") << QStringList{"-S"} << false << false
                           << "Initial value of 'simulator::use'=false, isSet('-s')=false, isSet('-S')=true";
        QTest::newRow("s then S") << QStringList{"-s", "-S"} << false << false
                                  << "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=true";
        QTest::newRow("S then s") << QStringList{"-S", "-s"} << false << false
                                  << "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=true";
        QTest::newRow("s and l behind one dash") << QStringList{"-sl"} << true << true
                                                 << "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false";
        QTest::newRow("long switches") << QStringList{"--use-simulator", "--use-log-window"} << true << true
                                       << "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false";
        QTest::newRow("long no-use-simulator") << QStringList{"--no-use-simulator", "-l"} << false << true
                                               << "Initial value of 'simulator::use'=false, isSet('-s')=false, isSet('-S')=true";
        QTest::newRow("arguments that are not options are ignored") << QStringList{"file.txt", "-s"} << true << false
                                                                    << "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false";
    }
    void switches_set_the_two_flags() {
        QFETCH(QStringList, args);
        QFETCH(bool, simulator);
        QFETCH(bool, log_window);
        QFETCH(QString, message);
        MessageLog log;
        parse_arguments(QStringList{"OrvantaFirmwareUpgradeTool"} + args);
        QCOMPARE(simulator::use, simulator);
        QCOMPARE(use_log_window, log_window);
        QCOMPARE(log.texts(QtDebugMsg), QStringList{message});
    }

    void the_initial_value_is_reported() {
        simulator::use = true;
        MessageLog log;
        parse_arguments(QStringList{"prog", "-S"});
        QCOMPARE(log.texts(QtDebugMsg).value(0),
                 QString("Initial value of 'simulator::use'=true, isSet('-s')=false, isSet('-S')=true"));
        QVERIFY(!simulator::use);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
