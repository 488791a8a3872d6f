// libFuzzer target: the progress parser on arbitrary standard output, fed whole and in two
// pieces split where the input's first byte says. Every update found whole is found in pieces
// too, in order; a piece that ends just after " bytes" may report one more (an update is taken
// as complete there, before whatever follows it), and every update is a percent.

#include "dfu/progress_parser.h"

#include "fuzz_support.h"

using fuzz::check;

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > fuzz::max_input_size)
        return 0;
    const QByteArray output = fuzz::unowned(data + 1, size - 1);
    const int cut = output.isEmpty() ? 0 : data[0] % (output.size() + 1);

    DFU::ProgressParser whole;
    const std::vector<int> at_once = whole.feed(output);
    DFU::ProgressParser pieces;
    std::vector<int> in_two = pieces.feed(output.left(cut));
    const std::vector<int> rest = pieces.feed(output.mid(cut));
    in_two.insert(in_two.end(), rest.begin(), rest.end());

    std::size_t next = 0;
    for (int percent : in_two)
        if (next < at_once.size() && at_once[next] == percent)
            ++next;
    check(next == at_once.size());
    check(in_two.size() <= at_once.size() + 1);
    for (int percent : at_once)
        check(percent >= 0 && percent <= 100);
    return 0;
}
