#include "cli/metrics_file.h"

#include <QSaveFile>
#include <QStringList>

namespace Cli {

namespace {

// A label's value with the format's three escapes.
QString label_value(QString value) {
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    value.replace(QLatin1Char('"'), QLatin1String("\\\""));
    value.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

QString head(const char* name, const char* type, const char* help) {
    return QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
        .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
}

} // namespace

QString metrics_text(const StationFigures& f) {
    QString text = head("orvanta_upgrade_outcomes_total", "counter",
                        "Outcomes of units' upgrades in this bench's record, per USB port and outcome.");
    for (const History::OutcomeCount& c : f.outcomes)
        text += QStringLiteral("orvanta_upgrade_outcomes_total{port=%1,outcome=%2} %3\n")
                    .arg(label_value(c.port), label_value(c.outcome))
                    .arg(c.count);
    text += head("orvanta_upgrade_last_duration_seconds", "gauge",
                 "How long the last upgrade on the USB port took, from its start to its outcome.");
    for (auto it = f.last_duration_s.cbegin(); it != f.last_duration_s.cend(); ++it)
        text += QStringLiteral("orvanta_upgrade_last_duration_seconds{port=%1} %2\n")
                    .arg(label_value(it.key()))
                    .arg(it.value(), 0, 'f', 3);
    text += head("orvanta_upgrade_units_in_progress", "gauge",
                 "Units being upgraded or verified by this station now.");
    text += QStringLiteral("orvanta_upgrade_units_in_progress %1\n").arg(f.units_in_progress);
    return text;
}

bool write_metrics_file(const QString& path, const StationFigures& figures, QString* why) {
    QSaveFile file(path);
    const QByteArray bytes = metrics_text(figures).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (why)
        *why = file.errorString();
    return false;
}

} // namespace Cli
