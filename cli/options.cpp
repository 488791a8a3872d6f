#include "cli/options.h"

#include "cli/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

namespace Cli {

namespace {

const QMap<QString, Verb> verbs{{QStringLiteral("status"), Verb::status},
                                {QStringLiteral("install"), Verb::install},
                                {QStringLiteral("verify"), Verb::verify},
                                {QStringLiteral("history"), Verb::history}};

void add_options(QCommandLineParser& parser, const Settings::Texts& texts) {
    const auto text = [&texts](const char* id) { return texts.text(QLatin1String(id)); };
    parser.setApplicationDescription(text("cli_description"));
    parser.addPositionalArgument(QStringLiteral("verb"), text("cli_help_verb"),
                                 QStringLiteral("status|install|verify|history"));
    parser.addOptions({{QStringLiteral("wait"), text("cli_help_wait"), QStringLiteral("SECONDS"),
                        QStringLiteral("30")},
                       {QStringLiteral("repeat"), text("cli_help_repeat")},
                       {QStringLiteral("json"), text("cli_help_json")},
                       {QStringLiteral("use-simulator"), text("cli_help_simulator")},
                       {QStringLiteral("serial"), text("cli_help_serial"), QStringLiteral("S")},
                       {QStringLiteral("csv"), text("cli_help_csv")},
                       {QStringLiteral("central-record"), text("cli_help_central_record"),
                        QStringLiteral("CONNECTION")},
                       {QStringLiteral("all"), text("cli_help_all")},
                       {QStringLiteral("port"), text("cli_help_port"), QStringLiteral("PATH")},
                       {QStringLiteral("metrics-file"), text("cli_help_metrics_file"),
                        QStringLiteral("PATH")}});
    parser.addHelpOption();
    parser.addVersionOption();
}

bool refuse(const QString& why) {
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return false;
}

// A port as dfu-util 0.9 lists it: the bus, a dash, the port numbers joined by dots.
bool is_port_path(const QString& text) {
    static const QRegularExpression path(QStringLiteral("^[0-9]+-[0-9]+(\\.[0-9]+)*$"));
    return path.match(text).hasMatch();
}

// The verb's own options only: --serial and --csv belong to history, --repeat and the
// station's options to the others.
bool check(const QCommandLineParser& parser, const Options& o, const Settings::Texts& texts) {
    const bool history = o.verb == Verb::history;
    if (history && parser.isSet(QStringLiteral("repeat")))
        return refuse(texts.text(QStringLiteral("cli_usage_history_only_reads")));
    if (!history && (parser.isSet(QStringLiteral("serial")) || o.csv))
        return refuse(texts.text(QStringLiteral("cli_usage_history_options")));
    if (history && (o.by_port() || !o.metrics_file.isEmpty()))
        return refuse(texts.text(QStringLiteral("cli_usage_station_options")));
    for (const QString& port : o.ports)
        if (!is_port_path(port))
            return refuse(texts.text(QStringLiteral("cli_usage_port")));
    return true;
}

} // namespace

std::optional<Options> parse_options(const QStringList& arguments, const Settings::Texts& texts) {
    QCommandLineParser parser;
    add_options(parser, texts);
    if (!parser.parse(arguments)) {
        refuse(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) {
        print_version(parser.isSet(QStringLiteral("json")), texts);
        std::exit(0);
    }
    const QStringList words = parser.positionalArguments();
    if (words.size() != 1 || !verbs.contains(words.first())) {
        refuse(texts.text(QStringLiteral("cli_usage_verb")));
        return std::nullopt;
    }
    Options o;
    o.verb = verbs.value(words.first());
    bool number = false;
    o.wait_seconds = parser.value(QStringLiteral("wait")).toInt(&number);
    if (!number || o.wait_seconds < 0) {
        refuse(texts.text(QStringLiteral("cli_usage_wait")));
        return std::nullopt;
    }
    o.repeat = parser.isSet(QStringLiteral("repeat"));
    o.json = parser.isSet(QStringLiteral("json"));
    o.central_record = parser.value(QStringLiteral("central-record"));
    o.simulator = parser.isSet(QStringLiteral("use-simulator"));
    o.serial = parser.value(QStringLiteral("serial"));
    o.csv = parser.isSet(QStringLiteral("csv"));
    o.all = parser.isSet(QStringLiteral("all"));
    o.ports = parser.values(QStringLiteral("port"));
    o.ports.removeDuplicates();
    o.metrics_file = parser.value(QStringLiteral("metrics-file"));
    if (!check(parser, o, texts))
        return std::nullopt;
    return o;
}

} // namespace Cli
