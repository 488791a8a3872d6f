#include "cli/report.h"

#include <QJsonDocument>

#include <cstdio>
#include <unistd.h>

namespace Cli {

QString plain(const QString& rich) {
    QString out;
    bool in_tag = false;
    for (const QChar c : rich) {
        if (c == QLatin1Char('<'))
            in_tag = true;
        else if (c == QLatin1Char('>') && in_tag)
            in_tag = false;
        else if (!in_tag)
            out += c;
    }
    out.replace(QLatin1String("&lt;"), QLatin1String("<"));
    out.replace(QLatin1String("&gt;"), QLatin1String(">"));
    out.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out.simplified();
}

OutcomeEvent unrecorded(const QString& outcome, int exit_status, const QString& serial,
                        const QString& revision) {
    OutcomeEvent o;
    o.outcome = outcome;
    o.exit_status = exit_status;
    o.serial = serial;
    o.revision_before = revision;
    return o;
}

Report::Report(bool json_, const Settings::Texts& texts_)
    : json(json_), terminal(::isatty(STDOUT_FILENO) == 1), texts(texts_) {}

// Each line is flushed at once: a station's log or a pipe sees it when it happens.
void Report::line(const QString& text) {
    if (progress_open)
        std::fputc('\n', stdout);
    progress_open = false;
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

void Report::event(const QString& name, QJsonObject fields) {
    fields.insert(QStringLiteral("event"), name);
    line(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)));
}

void Report::step(const QString& words) {
    if (!json)
        line(words);
}

void Report::unit(const UnitEvent& u) {
    if (!json) {
        const QString revision = u.revision.isEmpty()
                                     ? texts.text(QStringLiteral("history_revision_unknown"))
                                     : u.revision;
        line(texts.text(QStringLiteral("cli_unit"))
                 .arg(u.serial, u.product, revision, u.carried_revision));
        return;
    }
    event(QStringLiteral("unit"), {{QStringLiteral("serial"), u.serial},
                                   {QStringLiteral("product"), u.product},
                                   {QStringLiteral("revision"), u.revision},
                                   {QStringLiteral("carried_revision"), u.carried_revision}});
}

// A person sees the line redrawn in place on a terminal, and nothing of it in a pipe or file.
void Report::progress(const QString& phase, int percent) {
    if (json) {
        event(QStringLiteral("progress"),
              {{QStringLiteral("phase"), phase}, {QStringLiteral("percent"), percent}});
        return;
    }
    if (!terminal)
        return;
    const QString words = texts.text(QStringLiteral("cli_progress_") + phase);
    std::fprintf(stdout, "\r%s", qPrintable(words.arg(percent)));
    std::fflush(stdout);
    progress_open = true;
}

void Report::message(const QString& words) {
    if (json)
        event(QStringLiteral("message"), {{QStringLiteral("text"), words}});
    else
        line(words);
}

void Report::outcome(const OutcomeEvent& o) {
    if (!json) {
        line(o.words);
        return;
    }
    QJsonObject fields{{QStringLiteral("outcome"), o.outcome},
                       {QStringLiteral("exit_status"), o.exit_status},
                       {QStringLiteral("serial"), o.serial},
                       {QStringLiteral("revision_before"), o.revision_before},
                       {QStringLiteral("revision_after"), o.revision_after},
                       {QStringLiteral("cause"), o.cause},
                       {QStringLiteral("recorded"), o.recorded}};
    if (!o.transfer.isEmpty())
        fields.insert(QStringLiteral("transfer"), o.transfer);
    event(QStringLiteral("outcome"), fields);
}

void Report::row(const QJsonObject& fields) {
    event(QStringLiteral("row"), fields);
}

} // namespace Cli
