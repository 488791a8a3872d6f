#pragma once
// The central record's libpq connection string (key=value words, as in `service=orvanta` or
// `host=db port=5432 dbname=record user=bench_3 sslmode=verify-full`), as the administrator
// gave it, made safe to use and to show.

#include <QString>
#include <QStringList>

namespace History {

struct ConnectionWord {
    QString key;
    QString value; // unquoted
};

// The words of a connection string; nothing when it is not one (an unclosed quote, a word
// without '=', a URI). Never reads past the text.
struct ParsedConnection {
    bool valid = false;
    QList<ConnectionWord> words;
};
ParsedConnection parse_connection(const QString& text);

// The string the program connects with: the administrator's words, then the bounds a bench
// needs where the administrator set none (a connect timeout, keep-alives that notice a server
// gone away, the program's name for the server's list of sessions).
QString bounded_connection(const ParsedConnection& parsed);

// The string to show or log: every password replaced by "***".
QString shown_connection(const ParsedConnection& parsed);

// libpq's or the server's words without the prefixes that say nothing to a technician
// ("connection to server at ... failed:", "FATAL:  "), on one line.
QString plain_server_words(const QString& words);

} // namespace History
