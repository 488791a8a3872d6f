#include "simulator/program/command_line.h"

#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

#include <QRegularExpression>

namespace simulator {

namespace {

const QStringList& options_with_value() {
    static const QStringList names = {"-d",
                                      "-p",
                                      "-c",
                                      "-i",
                                      "-a",
                                      "-n",
                                      "-S",
                                      "-t",
                                      "-U",
                                      "-D",
                                      "-s",
                                      "-E",
                                      "-Z",
                                      "--device",
                                      "--path",
                                      "--cfg",
                                      "--intf",
                                      "--alt",
                                      "--serial",
                                      "--transfer-size",
                                      "--upload",
                                      "--download",
                                      "--dfuse-address"};
    return names;
}

// The leading hexadecimal digits of a text, as strtoul with base 16 reads them; -1: none.
int leading_hex(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9a-fA-F]+"));
    const QRegularExpressionMatch m = digits.match(text);
    return m.hasMatch() ? static_cast<int>(m.captured().left(8).toUInt(nullptr, 16)) : -1;
}

// -d vendor[:product][,...]
void parse_device(const QString& value, Options& o) {
    const QString vendor_product = value.section(QLatin1Char(','), 0, 0);
    const int colon = vendor_product.indexOf(QLatin1Char(':'));
    if (const int vendor = leading_hex(vendor_product.left(colon)); vendor >= 0)
        o.vendor = vendor;
    if (colon >= 0) {
        if (const int product = leading_hex(vendor_product.mid(colon + 1)); product >= 0)
            o.product = product;
    }
}

// -a by number, or by an alternate setting's whole name.
int parse_alt(const QString& value) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (digits.match(value).hasMatch())
        return value.toInt();
    for (int alt = 0; alt < alt_count; ++alt)
        if (alt_name(alt) == value)
            return alt;
    return 9;
}

} // namespace

Options parse_options(const QStringList& args) {
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        QString option = args[i];
        QString value;
        if (options_with_value().contains(option)) {
            if (i + 1 >= args.size())
                usage_error(QStringLiteral("option %1 needs an argument").arg(option));
            value = args[++i];
        } else if (option.size() > 2 && options_with_value().contains(option.left(2))) {
            value = option.mid(2);
            option = option.left(2);
        }
        const auto is = [&option](const char* short_name, const char* long_name) {
            return option == QLatin1String(short_name) || option == QLatin1String(long_name);
        };
        if (is("-V", "--version")) {
            o.mode = Mode::version;
        } else if (is("-l", "--list")) {
            o.mode = Mode::list;
        } else if (is("-d", "--device")) {
            parse_device(value, o);
        } else if (is("-S", "--serial")) {
            o.serial = value.section(QLatin1Char(','), 0, 0);
        } else if (is("-a", "--alt")) {
            o.match_alt = parse_alt(value);
        } else if (is("-s", "--dfuse-address")) {
            o.dfuse_options = value;
        } else if (is("-U", "--upload")) {
            o.mode = Mode::upload;
            o.file = value;
        } else if (is("-D", "--download")) {
            o.mode = Mode::download;
            o.file = value;
        } else if (!(is("-v", "--verbose") || is("-R", "--reset") || is("-e", "--detach") ||
                     is("-p", "--path") || is("-c", "--cfg") || is("-i", "--intf") ||
                     is("-t", "--transfer-size") || is("-E", "-E") || is("-Z", "-Z"))) {
            usage_error(QStringLiteral("dfu-util 0.9 has no option %1").arg(option));
        }
    }
    return o;
}

bool parse_number(const QString& text, qint64* value) {
    static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9a-fA-F]{1,8})$"));
    static const QRegularExpression octal(QStringLiteral("^0[0-7]{0,11}$"));
    static const QRegularExpression decimal(QStringLiteral("^[1-9][0-9]{0,9}$"));
    bool ok = false;
    if (const QRegularExpressionMatch m = hex.match(text); m.hasMatch())
        *value = m.captured(1).toLongLong(&ok, 16);
    else if (octal.match(text).hasMatch())
        *value = text.toLongLong(&ok, 8);
    else if (decimal.match(text).hasMatch())
        *value = text.toLongLong(&ok, 10);
    return ok;
}

DfuseOptions parse_dfuse_options(const QString& text) {
    DfuseOptions d;
    if (text.isEmpty())
        return d;
    const QStringList parts = text.split(QLatin1Char(':'));
    if (!parts[0].isEmpty() && !parse_number(parts[0], &d.address))
        fail(ex_usage, QStringLiteral("Invalid dfuse address: %1").arg(text));
    for (const QString& modifier : parts.mid(1)) {
        if (modifier.isEmpty() ||
            QStringList{"force", "leave", "mass-erase", "unprotect", "will-reset"}.contains(
                modifier))
            continue;
        if (!parse_number(modifier, &d.length))
            fail(ex_usage, QStringLiteral("Invalid dfuse modifier: %1").arg(modifier));
    }
    return d;
}

} // namespace simulator
