// libFuzzer target: the classifier on an arbitrary exit code and standard error. A failed run
// always gets a cause, a run that exited 0 at most "no access", and the detail is one line.

#include "dfu/failure_cause.h"

#include "fuzz_support.h"

using fuzz::check;

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > fuzz::max_input_size)
        return 0;
    DFU::CmdResult result;
    // The first byte picks the exit code among those that matter: 0, -1, 74 and one other.
    static const int codes[] = {0, -1, 74, 1};
    result.exit_code = codes[data[0] % 4];
    result.failed_to_start = (data[1] & 1) != 0;
    if (result.failed_to_start)
        result.exit_code = -1;
    result.error_output = fuzz::utf8(data + 2, size - 2);

    const DFU::Failure failure = DFU::classify(result);
    check(!failure.detail.contains(QLatin1Char('\n')));
    if (result.failed_to_start)
        check(failure.cause == DFU::Cause::not_started);
    else if (result.exit_code == -1)
        check(failure.cause == DFU::Cause::crashed);
    else if (result.exit_code == 0)
        check(failure.cause == DFU::Cause::none || failure.cause == DFU::Cause::no_access);
    else
        check(failure.cause != DFU::Cause::none && failure.cause != DFU::Cause::crashed &&
              failure.cause != DFU::Cause::not_started);
    return 0;
}
