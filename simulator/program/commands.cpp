#include "simulator/program/commands.h"

#include "dfu/dfu_util.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

#include <QRegularExpression>

namespace simulator {

namespace {

// -d vendor[:product], as strtoul reads each part; a part without digits leaves it.
void parse_device(const QString& value, Options& o) {
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{1,8}"));
    const QStringList parts = value.section(',', 0, 0).split(':');
    for (int i = 0; i < qMin(2, parts.size()); ++i)
        if (const QRegularExpressionMatch m = hex.match(parts[i]); m.hasMatch())
            (i == 0 ? o.vendor : o.product) = static_cast<int>(m.captured().toUInt(nullptr, 16));
}

int parse_alt(const QString& value) {
    static const QRegularExpression digits(QStringLiteral("^\\d{1,9}$"));
    if (digits.match(value).hasMatch())
        return value.toInt();
    for (int alt = 0; alt < alt_count; ++alt)
        if (alt_name(alt) == value)
            return alt;
    return 9;
}

// One option in its short form, with its value when it takes one. Those the simulator need not
// tell apart are accepted and ignored; anything else is a usage error.
void apply_option(const QString& option, const QString& value, Options& o) {
    const char c = option.size() == 2 && option[0] == '-' ? option[1].toLatin1() : '\0';
    if (c == 'V' || c == 'l') {
        o.mode = c == 'V' ? Mode::version : Mode::list;
    } else if (c == 'd') {
        parse_device(value, o);
    } else if (c == 'S') {
        o.serial = value.section(',', 0, 0);
    } else if (c == 'p') {
        o.path = value;
    } else if (c == 'a') {
        o.match_alt = parse_alt(value);
    } else if (c == 's') {
        o.dfuse = value;
    } else if (c == 'U' || c == 'D') {
        o.mode = c == 'U' ? Mode::upload : Mode::download;
        o.file = value;
    } else if (c == '\0' || !QByteArray("vRecitEZ").contains(c)) {
        usage_error("dfu-util 0.9 has no option " + option);
    }
}

// As C's strtoul with base 0 reads a whole text.
bool parse_number(const QString& text, qint64* value) {
    bool ok = false;
    *value = text.toLongLong(&ok, 0);
    return ok && !text.isEmpty() && text[0].isDigit();
}

std::vector<Unit> matching_units(const Options& o, Units& units, bool scan) {
    std::vector<Unit> found;
    for (const Unit& unit : units.attached(scan)) {
        if ((o.path && *o.path != unit.path) || (o.vendor >= 0 && o.vendor != 0x0483) ||
            (o.product >= 0 && o.product != 0xdf11) ||
            (!o.serial.isEmpty() && o.serial != unit.serial))
            continue;
        if (units.denied(unit))
            warn("Cannot open DFU device 0483:df11");
        else
            found.push_back(unit);
    }
    return found;
}

// One line per alternate setting, the highest first, as the bootloader lists them.
int list(const Options& options, Units& units) {
    if (units.listing_fails())
        fail(ex_ioerr, "error get_status");
    if (const std::optional<QByteArray> verbatim = units.verbatim_listing()) {
        out(*verbatim);
        return 0;
    }
    for (const Unit& u : matching_units(options, units, true))
        for (int alt = alt_count - 1; alt >= 0; --alt)
            if (options.match_alt < 0 || options.match_alt == alt)
                say(QString::asprintf("Found DFU: [0483:df11] ver=2200, devnum=%d, cfg=1, intf=0, "
                                      "path=\"%s\", alt=%d, name=\"%s\", serial=\"%s\"",
                                      u.devnum, qUtf8Printable(u.path), alt,
                                      qUtf8Printable(alt_name(alt)), qUtf8Printable(u.serial)));
    return 0;
}

} // namespace

Options parse_options(const QStringList& args) {
    static const QHash<QString, QString> short_names = {
        {"--version", "-V"}, {"--list", "-l"},     {"--verbose", "-v"},
        {"--reset", "-R"},   {"--detach", "-e"},   {"--device", "-d"},
        {"--path", "-p"},    {"--cfg", "-c"},      {"--intf", "-i"},
        {"--alt", "-a"},     {"--serial", "-S"},   {"--transfer-size", "-t"},
        {"--upload", "-U"},  {"--download", "-D"}, {"--dfuse-address", "-s"}};
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        QString option = short_names.value(args[i], args[i]);
        QString value;
        const bool valued = option.size() >= 2 && option[0] == '-' &&
                            QStringLiteral("dpcianStUDsEZ").contains(option[1]);
        if (valued && option.size() > 2) {
            value = option.mid(2);
            option.truncate(2);
        } else if (valued) {
            if (++i >= args.size())
                usage_error("option " + args[i - 1] + " needs an argument");
            value = args[i];
        }
        apply_option(option, value, o);
    }
    return o;
}

std::pair<qint64, qint64> parse_dfuse(const QString& text) {
    qint64 address = -1;
    qint64 length = 0;
    const QStringList parts = text.split(':');
    if (!parts[0].isEmpty() && !parse_number(parts[0], &address))
        fail(ex_usage, "Invalid dfuse address: " + text);
    for (const QString& modifier : parts.mid(1))
        if (!modifier.isEmpty() &&
            !QStringList{"force", "leave", "mass-erase", "unprotect", "will-reset"}.contains(
                modifier) &&
            !parse_number(modifier, &length))
            fail(ex_usage, "Invalid dfuse modifier: " + modifier);
    return {address, length};
}

bool start(const Options& options, int* exit_code) {
    out(DFU::dfu_util::expected_output_of_execution_test.toUtf8());
    if (options.mode == Mode::none)
        err("You need to specify one of -D or -U\n");
    *exit_code = options.mode == Mode::none ? ex_usage : 0;
    return options.mode != Mode::none && options.mode != Mode::version;
}

int run(const Options& options, Units& units) {
    if (options.match_alt >= alt_count) {
        if (options.mode == Mode::list)
            return 0;
        fail(ex_ioerr, "No DFU capable USB device available");
    }
    return options.mode == Mode::list     ? list(options, units)
           : options.mode == Mode::upload ? upload(options, units)
                                          : download(options, units);
}

Unit open_unit(const Options& options, Units& units) {
    const std::vector<Unit> found = matching_units(options, units, false);
    if (found.empty())
        fail(ex_ioerr, "No DFU capable USB device available");
    if (found.size() > 1)
        fail(ex_ioerr, "More than one DFU capable USB device found! Try `--list' and specify the "
                       "serial number or disconnect all but one device\n");
    units.lock_unit(found.front());
    say("Opening DFU capable USB device...\nID 0483:df11\nRun-time device DFU version 011a\n"
        "Claiming USB DFU Interface...");
    if (units.claimed(found.front()))
        fail(ex_ioerr, "Cannot claim interface");
    say(QString::asprintf("Setting Alternate Setting #%d ...\nDetermining device status: state = "
                          "dfuIDLE, status = 0\ndfuIDLE, continuing\nDFU mode device DFU version "
                          "011a\nDevice returned transfer size %d",
                          options.alt(), transfer_size));
    return found.front();
}

// dfu-util reads the memory layout from the name here; where the bootloader's "01*016 e" has a
// blank in place of a multiplier (K or M), it says so, once for each such segment.
void say_interface_name(int alt) {
    static const QRegularExpression blank_multiplier(QStringLiteral("^\\d+\\*\\d+ "));
    say("DfuSe interface name: \"" + alt_name(alt).mid(1).section('/', 0, 0) + '"');
    for (const QString& segment : alt_name(alt).section('/', 2).split(','))
        if (blank_multiplier.match(segment).hasMatch())
            warn("Non-valid multiplier ' ', assuming bytes");
}

} // namespace simulator
