// libFuzzer target: DfuSe::parse on arbitrary files, and on each with its suffix CRC made
// right (a mutated file almost never keeps its CRC, and without one the fuzzer would never
// get past the suffix into the targets). Beyond the sanitizers' checks it traps when an
// accepted file's layout does not account for its every byte, or when what make_file writes
// from the parsed targets does not read back the same.

#include "dfu/dfuse_file.h"

#include "fuzz_support.h"

#include <vector>

using fuzz::check;
using namespace DFU::DfuSe;

namespace {

bool is_short_ascii(const QString& s) {
    for (const QChar c : s)
        if (c.unicode() >= 0x80)
            return false;
    return s.size() < target_name_size;
}

void check_round_trip(const File& f, int file_size) {
    const QByteArray again = make_file(f.targets, f.vendor, f.product, f.device);
    check(again.size() == file_size);
    const File g = parse(again);
    check(g.valid && g.vendor == f.vendor && g.product == f.product && g.device == f.device);
    check(g.targets.size() == f.targets.size());
    for (std::size_t t = 0; t < f.targets.size(); ++t) {
        const Target& a = f.targets[t];
        const Target& b = g.targets[t];
        check(a.alternate_setting == b.alternate_setting);
        // Other names need not survive: UTF-8 is decoded leniently and cut at the field's end.
        if (is_short_ascii(a.name))
            check(a.name == b.name);
        check(a.elements.size() == b.elements.size());
        for (std::size_t e = 0; e < a.elements.size(); ++e) {
            check(a.elements[e].address == b.elements[e].address);
            check(a.elements[e].data == b.elements[e].data);
        }
    }
}

void check_file(const QByteArray& bytes) {
    const File f = parse(bytes);
    if (!f.valid) {
        check(!f.error.isEmpty() && f.targets.empty());
        return;
    }
    check(f.error.isEmpty() && f.format_version == 1);
    qint64 accounted = prefix_size + suffix_size;
    for (const Target& t : f.targets) {
        accounted += target_prefix_size;
        for (const Element& e : t.elements)
            accounted += element_header_size + e.data.size();
    }
    check(accounted == bytes.size());
    check_round_trip(f, bytes.size());
}

} // namespace

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzz::max_input_size)
        return 0;
    check_file(fuzz::unowned(data, size));
    if (size < std::size_t(suffix_size))
        return 0;
    // An exactly sized copy, so that a read past its end is caught as for the input itself.
    std::vector<char> fixed(data, data + size);
    const int crc_at = static_cast<int>(size) - 4;
    const quint32 crc = suffix_crc(QByteArray::fromRawData(fixed.data(), crc_at));
    for (int i = 0; i < 4; ++i)
        fixed[std::size_t(crc_at + i)] = static_cast<char>((crc >> (8 * i)) & 0xFF);
    check_file(QByteArray::fromRawData(fixed.data(), static_cast<int>(size)));
    return 0;
}
