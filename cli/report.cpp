#include "cli/report.h"

#include <QJsonArray>
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

void Report::serve_ports() {
    if (terminal && !json)
        board = std::make_unique<Board>();
}

// Each line is flushed at once: a station's log or a pipe sees it when it happens. A unit's
// line for a person begins with its port.
void Report::line(const QString& text, const Who& who) {
    if (progress_open)
        std::fputc('\n', stdout);
    progress_open = false;
    const QString shown =
        json || who.port.isEmpty() ? text : texts.text(QStringLiteral("cli_port_line")).arg(who.port, text);
    std::fprintf(stdout, "%s\n", shown.toUtf8().constData());
    std::fflush(stdout);
    if (board)
        board->forget_drawing();
}

void Report::event(const QString& name, QJsonObject fields, const Who& who) {
    fields.insert(QStringLiteral("event"), name);
    if (!who.port.isEmpty())
        fields.insert(QStringLiteral("port"), who.port);
    if (!who.serial.isEmpty())
        fields.insert(QStringLiteral("serial"), who.serial);
    if (who.serial_shared)
        fields.insert(QStringLiteral("serial_shared"), true);
    line(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)));
}

void Report::step(const QString& words, const Who& who) {
    if (on_board(who))
        board->phase(who, words);
    else if (!json)
        line(words, who);
}

void Report::unit(const UnitEvent& u, const Who& who) {
    if (!json) {
        const QString revision = u.revision.isEmpty()
                                     ? texts.text(QStringLiteral("history_revision_unknown"))
                                     : u.revision;
        const QString words = texts.text(QStringLiteral("cli_unit"))
                                  .arg(u.serial, u.product, revision, u.carried_revision);
        if (on_board(who))
            board->phase(who, words);
        else
            line(words, who);
        return;
    }
    event(QStringLiteral("unit"),
          {{QStringLiteral("serial"), u.serial},
           {QStringLiteral("product"), u.product},
           {QStringLiteral("revision"), u.revision},
           {QStringLiteral("carried_revision"), u.carried_revision}},
          who);
}

// A person sees the line redrawn in place on a terminal, and nothing of it in a pipe or file.
void Report::progress(const QString& phase, int percent, const Who& who) {
    if (json) {
        event(QStringLiteral("progress"),
              {{QStringLiteral("phase"), phase}, {QStringLiteral("percent"), percent}}, who);
        return;
    }
    if (on_board(who)) {
        board->percent(who, percent);
        return;
    }
    if (!terminal || !who.port.isEmpty())
        return;
    const QString words = texts.text(QStringLiteral("cli_progress_") + phase);
    std::fprintf(stdout, "\r%s", qPrintable(words.arg(percent)));
    std::fflush(stdout);
    progress_open = true;
}

void Report::message(const QString& words, const Who& who) {
    if (json)
        event(QStringLiteral("message"), {{QStringLiteral("text"), words}}, who);
    else if (on_board(who))
        board->phase(who, words);
    else
        line(words, who);
}

void Report::outcome(const OutcomeEvent& o, const Who& who) {
    if (!json) {
        if (on_board(who))
            board->outcome(who, o.outcome);
        else
            line(o.words, who);
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
    event(QStringLiteral("outcome"), fields, who);
}

void Report::summary(const SummaryEvent& summary) {
    QJsonObject counts;
    QJsonObject ports;
    QStringList words;
    int units = 0;
    for (auto it = summary.ports.cbegin(); it != summary.ports.cend(); ++it) {
        counts.insert(it.key(), it.value().size());
        ports.insert(it.key(), QJsonArray::fromStringList(it.value()));
        words << QStringLiteral("%1 %2 (%3)").arg(it.value().size()).arg(it.key(), it.value().join(' '));
        units += it.value().size();
    }
    if (!json) {
        line(texts.text(QStringLiteral("cli_summary"))
                 .arg(QString::number(units), words.join(QStringLiteral(", ")),
                      QString::number(summary.exit_status)));
        return;
    }
    event(QStringLiteral("summary"), {{QStringLiteral("counts"), counts},
                                      {QStringLiteral("ports"), ports},
                                      {QStringLiteral("units"), units},
                                      {QStringLiteral("exit_status"), summary.exit_status}});
}

void Report::row(const QJsonObject& fields) {
    event(QStringLiteral("row"), fields);
}

} // namespace Cli
