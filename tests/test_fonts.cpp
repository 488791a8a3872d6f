// The embedded typeface: registered once, made the application default, failures reported.

#include "gui/fonts.h"
#include "message_log.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QtTest>

class TestFonts : public QObject {
    Q_OBJECT
private slots:
    void embedded_regular_face_becomes_the_default() {
        MessageLog log;
        support::setup_fonts();
        QCOMPARE(support::orvanta_font_name, QString("Cantarell"));
        QCOMPARE(QApplication::font().family(), QString("Cantarell"));
        QCOMPARE(QApplication::font().pointSize(), 11);
        QCOMPARE(log.texts(QtInfoMsg), QStringList{"Load/set default font: \"Cantarell\""});
        QVERIFY(log.texts(QtWarningMsg).isEmpty());
        // Both faces are registered: bold text in the family has a face of its own.
        QVERIFY(QFontDatabase().styles("Cantarell").contains("Bold"));
    }

    void faces_are_registered_once() {
        const int families_before = QFontDatabase().families().size();
        MessageLog log;
        QCOMPARE(support::load_orvanta_fonts(), QString("Cantarell"));
        QCOMPARE(support::load_orvanta_fonts(), QString("Cantarell"));
        QCOMPARE(QFontDatabase().families().size(), families_before);
        QVERIFY(log.texts().isEmpty());
    }

    void unreadable_font_files_are_reported_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("corrupt") << QByteArray("OTTO this is no font at all");
    }
    void unreadable_font_files_are_reported() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath("broken.otf");
        if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        MessageLog log;
        QCOMPARE(support::load_font(path), QString());
        QCOMPARE(log.texts(QtWarningMsg), QStringList{"Unable to load font from  \"" + path + "\""});
    }

    void an_empty_family_leaves_the_application_font_alone() {
        const QFont before = QApplication::font();
        support::set_default_font(QString());
        QCOMPARE(QApplication::font(), before);
        support::set_default_font("Cantarell");
        QCOMPARE(QApplication::font().family(), QString("Cantarell"));
    }
};

QTEST_MAIN(TestFonts)
#include "test_fonts.moc"
