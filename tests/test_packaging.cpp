// The packaging data that can be judged without installing it: the unit's udev rule, read field
// by field as udev reads it; the maintainer scripts that make it take effect; and the id that the
// desktop entry, the icon and the metainfo share.

#include "file_contents.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <vector>

namespace {

const QString packaging_dir = QStringLiteral(ORVANTA_SOURCE_DIR "/packaging/linux");

// The one udev rules file of the package (empty when there is none or more than one).
QString rules_file() {
    const QStringList files = QDir(packaging_dir).entryList({"*.rules"}, QDir::Files);
    return files.size() == 1 ? files.front() : QString();
}

// One KEY op "value" of a rule, e.g. ATTR{idVendor}=="0483".
struct Field {
    QString key;
    QString op;
    QString value;
};

// One rule: its fields in order; invalid when some part of the line is no field.
struct Rule {
    int line = 0;
    std::vector<Field> fields;
    bool valid = false;

    const Field* find(const QString& key) const {
        for (const Field& f : fields)
            if (f.key == key)
                return &f;
        return nullptr;
    }
    int count(const QString& key) const {
        int n = 0;
        for (const Field& f : fields)
            n += f.key == key ? 1 : 0;
        return n;
    }
    bool matches(const QString& key, const QString& value) const {
        const Field* f = find(key);
        return f && f->op == "==" && f->value == value;
    }
};

// The rules of a rules file as udev reads them: a backslash at the end of a line continues it,
// blank lines and lines starting with '#' are not rules, fields are separated by commas.
std::vector<Rule> parse_rules(const QString& text) {
    static const QRegularExpression field(QStringLiteral(
        R"re(\G[\s,]*([A-Za-z_]+(?:\{[^}"]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)")re"));
    static const QRegularExpression rest(QStringLiteral(R"re(\G[\s,]*$)re"));
    std::vector<Rule> rules;
    const QStringList lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        Rule rule;
        rule.line = i + 1;
        QString line = lines[i];
        while (line.endsWith('\\') && i + 1 < lines.size())
            line = line.chopped(1) + lines[++i];
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        int at = 0;
        for (QRegularExpressionMatch m = field.match(line, at); m.hasMatch();
             m = field.match(line, at)) {
            rule.fields.push_back({m.captured(1), m.captured(2), m.captured(3)});
            at = m.capturedEnd();
        }
        rule.valid = !rule.fields.empty() && rest.match(line, at).hasMatch();
        rules.push_back(rule);
    }
    return rules;
}

// The rule that matches the unit's bootloader; fails the test unless there is exactly one.
Rule unit_rule() {
    std::vector<Rule> found;
    for (const Rule& r :
         parse_rules(QString::fromUtf8(read_all(packaging_dir + "/" + rules_file()))))
        if (r.matches("ATTR{idVendor}", "0483") && r.matches("ATTR{idProduct}", "df11"))
            found.push_back(r);
    if (found.size() != 1) {
        qWarning("expected one rule for 0483:df11, found %d", int(found.size()));
        return {};
    }
    return found.front();
}

// The one desktop entry's id: its file name without ".desktop".
QString app_id() {
    const QStringList entries = QDir(packaging_dir).entryList({"*.desktop"}, QDir::Files);
    return entries.size() == 1 ? QFileInfo(entries.front()).completeBaseName() : QString();
}

QString desktop_entry_value(const QString& text, const QString& key) {
    bool in_entry = false;
    for (const QString& line : text.split('\n')) {
        if (line.startsWith('['))
            in_entry = line == "[Desktop Entry]";
        else if (in_entry && line.startsWith(key + "="))
            return line.mid(key.size() + 1);
    }
    return QString();
}

} // namespace

class TestPackaging : public QObject {
    Q_OBJECT
private slots:
    // Read before the seat's rules (73), which turn the uaccess tag into access; nothing else.
    void rules_file_holds_only_well_formed_rules() {
        bool ok = false;
        const int number = rules_file().section('-', 0, 0).toInt(&ok);
        QVERIFY(ok);
        QVERIFY(number < 73);
        const auto rules =
            parse_rules(QString::fromUtf8(read_all(packaging_dir + "/" + rules_file())));
        QVERIFY(!rules.empty());
        for (const Rule& r : rules)
            QVERIFY2(r.valid, qPrintable(QString("line %1 is no udev rule").arg(r.line)));
    }

    // The parser itself, on rules that must and must not be read as such.
    void parser_reads_fields_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("fields");
        QTest::newRow("comment only") << "# SUBSYSTEM==\"usb\"" << true << -1;
        QTest::newRow("two fields") << "SUBSYSTEM==\"usb\", TAG+=\"uaccess\"" << true << 2;
        QTest::newRow("continued line") << "SUBSYSTEM==\"usb\", \\\n TAG+=\"uaccess\"" << true << 2;
        QTest::newRow("unquoted value") << "SUBSYSTEM==usb" << false << 0;
        QTest::newRow("trailing junk") << "TAG+=\"uaccess\" MODE" << false << 1;
        QTest::newRow("unknown operator") << "TAG~=\"uaccess\"" << false << 0;
    }
    void parser_reads_fields() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, fields);
        const auto rules = parse_rules(text);
        if (fields < 0) {
            QVERIFY(rules.empty());
            return;
        }
        QCOMPARE(int(rules.size()), 1);
        QCOMPARE(rules.front().valid, valid);
        QCOMPARE(int(rules.front().fields.size()), fields);
    }

    void unit_rule_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("value");
        const auto row = [](const char* name, const char* key, const char* op, const char* value) {
            QTest::newRow(name) << key << op << value;
        };
        row("USB devices", "SUBSYSTEM", "==", "usb");
        row("STMicroelectronics", "ATTR{idVendor}", "==", "0483");
        row("ROM DFU bootloader", "ATTR{idProduct}", "==", "df11");
        row("user at the seat", "TAG", "+=", "uaccess");
    }
    void unit_rule() {
        QFETCH(QString, key);
        QFETCH(QString, op);
        QFETCH(QString, value);
        const Rule rule = ::unit_rule();
        QCOMPARE(rule.count(key), 1);
        QCOMPARE(rule.find(key)->op, op);
        QCOMPARE(rule.find(key)->value, value);
    }

    // Access goes to the user at the seat only: no group, no owner, no world-writable mode.
    void unit_rule_grants_no_group_owner_or_mode() {
        const Rule rule = ::unit_rule();
        QVERIFY(rule.valid);
        for (const QString key : {"GROUP", "OWNER", "MODE"})
            QVERIFY2(!rule.find(key), qPrintable(key));
    }

    // postinst and postrm reload the rules and replay the unit's events only where udev runs,
    // and never fail: with a stand-in udevadm that records its calls.
    void maintainer_scripts_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("udev"); // running, stopped, refusing, absent
        QTest::addColumn<QStringList>("calls");
        const QStringList none;
        const QStringList ping{"ping"};
        const QStringList all{"ping", "reload", "trigger"};
        const auto row = [](const char* name, const char* script, const char* action,
                            const char* udev, const QStringList& calls) {
            QTest::newRow(name) << script << action << udev << calls;
        };
        row("installed, udev runs", "postinst", "configure", "running", all);
        row("installed, no udev daemon", "postinst", "configure", "stopped", ping);
        row("installed, udev refuses", "postinst", "configure", "refusing", all);
        row("installed, no udevadm", "postinst", "configure", "absent", none);
        row("upgrade aborted", "postinst", "abort-upgrade", "running", none);
        row("removed, udev runs", "postrm", "remove", "running", all);
        row("removed, no udev daemon", "postrm", "remove", "stopped", ping);
        row("removed, udev refuses", "postrm", "remove", "refusing", all);
        row("removed, no udevadm", "postrm", "remove", "absent", none);
        row("purged after removal", "postrm", "purge", "running", none);
    }
    void maintainer_scripts() {
        QFETCH(QString, script);
        QFETCH(QString, action);
        QFETCH(QString, udev);
        QFETCH(QStringList, calls);
        QTemporaryDir bin;
        const QString recorded = bin.filePath("calls");
        if (udev != "absent") {
            const QString fake = bin.filePath("udevadm");
            // Its ping succeeds while the daemon runs; every other call fails when udev refuses.
            QVERIFY(write_all(fake, QStringLiteral("#!/bin/sh\n"
                                                   "echo \"$*\" >> '%1'\n"
                                                   "[ \"$*\" = 'control --ping' ] && exit %2\n"
                                                   "exit %3\n")
                                        .arg(recorded)
                                        .arg(udev == "stopped" ? 1 : 0)
                                        .arg(udev == "refusing" ? 1 : 0)
                                        .toUtf8()));
            QVERIFY(QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        QProcess sh;
        QProcessEnvironment env;
        env.insert("PATH", bin.path()); // only the stand-in, or nothing at all
        sh.setProcessEnvironment(env);
        sh.start("/bin/sh", {packaging_dir + "/" + script, action});
        QVERIFY(sh.waitForFinished(30000));
        QCOMPARE(sh.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sh.exitCode(), 0);

        // The replayed events are those of the device that the rule matches.
        const Rule rule = ::unit_rule();
        const QString trigger =
            QString("trigger --subsystem-match=%1 --attr-match=idVendor=%2 "
                    "--attr-match=idProduct=%3")
                .arg(rule.find("SUBSYSTEM")->value, rule.find("ATTR{idVendor}")->value,
                     rule.find("ATTR{idProduct}")->value);
        const QMap<QString, QString> command_line{
            {"ping", "control --ping"}, {"reload", "control --reload-rules"}, {"trigger", trigger}};
        QStringList expected;
        for (const QString& call : calls)
            expected << command_line[call];
        QCOMPARE(QString::fromUtf8(read_all(recorded)).split('\n', Qt::SkipEmptyParts), expected);
    }

    // The desktop entry, the icon and the metainfo are one application to the desktop.
    void desktop_entry_icon_and_metainfo_share_one_id() {
        const QString id = app_id();
        QVERIFY(id.count('.') >= 2); // reverse DNS
        const QString entry = QString::fromUtf8(read_all(packaging_dir + "/" + id + ".desktop"));
        QCOMPARE(desktop_entry_value(entry, "Icon"), id);

        QXmlStreamReader xml(read_all(packaging_dir + "/" + id + ".metainfo.xml.in"));
        QString component_id, launchable, binary, modalias;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QStringRef name = xml.name();
            if (name == QLatin1String("id"))
                component_id = xml.readElementText();
            else if (name == QLatin1String("launchable"))
                launchable = xml.readElementText();
            else if (name == QLatin1String("binary"))
                binary = xml.readElementText();
            else if (name == QLatin1String("modalias"))
                modalias = xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(component_id, id);
        QCOMPARE(launchable, id + ".desktop");
        // The entry starts the program the metainfo names.
        QCOMPARE(desktop_entry_value(entry, "Exec").section(' ', 0, 0), binary);

        // Software centres offer the program for the device that the rule opens.
        const Rule rule = ::unit_rule();
        QCOMPARE(modalias, QString("usb:v%1p%2d*")
                               .arg(rule.find("ATTR{idVendor}")->value.toUpper(),
                                    rule.find("ATTR{idProduct}")->value.toUpper()));
    }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "test_packaging.moc"
