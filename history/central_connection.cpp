#include "history/central_connection.h"

#include <QRegularExpression>

namespace History {

namespace {

// What a bench adds where the administrator's string says nothing: seconds for a connection,
// then keep-alives and an unacknowledged-send bound that notice a server gone within seconds.
const QList<ConnectionWord>& bench_defaults() {
    static const QList<ConnectionWord> all = {
        {QStringLiteral("connect_timeout"), QStringLiteral("3")},
        {QStringLiteral("keepalives"), QStringLiteral("1")},
        {QStringLiteral("keepalives_idle"), QStringLiteral("5")},
        {QStringLiteral("keepalives_interval"), QStringLiteral("2")},
        {QStringLiteral("keepalives_count"), QStringLiteral("3")},
        {QStringLiteral("tcp_user_timeout"), QStringLiteral("10000")},
        {QStringLiteral("fallback_application_name"), QStringLiteral("orvanta-firmware-upgrade-tool")},
    };
    return all;
}

bool is_key_char(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// One value at `i`: quoted ('...', with \' and \\) or up to the next space.
bool read_value(const QString& text, int& i, QString& value) {
    if (i < text.size() && text[i] == QLatin1Char('\'')) {
        for (++i; i < text.size(); ++i) {
            if (text[i] == QLatin1Char('\''))
                return ++i, true;
            if (text[i] == QLatin1Char('\\') && i + 1 < text.size())
                ++i;
            value += text[i];
        }
        return false; // the quote is never closed
    }
    for (; i < text.size() && !text[i].isSpace(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size())
            ++i;
        value += text[i];
    }
    return true;
}

QString quoted(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString joined(const QList<ConnectionWord>& words) {
    QStringList parts;
    for (const ConnectionWord& w : words)
        parts << w.key + QLatin1Char('=') + quoted(w.value);
    return parts.join(QLatin1Char(' '));
}

} // namespace

ParsedConnection parse_connection(const QString& text) {
    ParsedConnection parsed;
    int i = 0;
    for (;;) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (i == text.size())
            break;
        ConnectionWord word;
        while (i < text.size() && is_key_char(text[i]))
            word.key += text[i++];
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (word.key.isEmpty() || i == text.size() || text[i] != QLatin1Char('='))
            return {};
        ++i;
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (!read_value(text, i, word.value))
            return {};
        parsed.words << word;
    }
    parsed.valid = !parsed.words.isEmpty();
    return parsed;
}

QString bounded_connection(const ParsedConnection& parsed) {
    QList<ConnectionWord> words = parsed.words;
    for (const ConnectionWord& bound : bench_defaults()) {
        const bool given = std::any_of(words.begin(), words.end(),
                                       [&bound](const ConnectionWord& w) { return w.key == bound.key; });
        if (!given)
            words << bound;
    }
    return joined(words);
}

QString shown_connection(const ParsedConnection& parsed) {
    QList<ConnectionWord> words = parsed.words;
    for (ConnectionWord& w : words)
        if (w.key == QLatin1String("password"))
            w.value = QStringLiteral("***");
    return joined(words);
}

QString plain_server_words(const QString& words) {
    static const QRegularExpression noise(
        QStringLiteral("^(connection to server at [^:]*failed: |connection to server on socket "
                       "[^:]*failed: |could not connect to server: )?((FATAL|ERROR): +)?"));
    QString line = words.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    return line.remove(noise).trimmed();
}

} // namespace History
