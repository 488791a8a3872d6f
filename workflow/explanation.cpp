#include "workflow/explanation.h"

namespace {

using Kind = Explanation::Kind;

Explanation of(Kind kind, const DFU::Failure& failure = {}) {
    return {kind, failure, {}, {}};
}

bool failed(const DFU::Failure& f) {
    return f.cause != DFU::Cause::none;
}

// A failure that tells the user what to do, whatever was being done when it struck.
Explanation of_failure(Kind otherwise, const DFU::Failure& f) {
    if (f.cause == DFU::Cause::no_access)
        return of(Kind::no_access);
    if (f.cause == DFU::Cause::busy)
        return of(Kind::busy);
    return of(otherwise, f);
}

// Without a usable unit: what the worker sees, or else how the last upgrade ended.
Explanation without_unit(const Situation& s) {
    switch (s.kind) {
    case Situation::Kind::no_working_files:
        return {Kind::no_working_files, {}, s.where, s.why};
    case Situation::Kind::several_units:
        return of(Kind::several_units);
    case Situation::Kind::listing_failed:
        return of_failure(Kind::listing_failed, s.failure);
    case Situation::Kind::unreadable:
        return of_failure(Kind::unreadable, s.failure);
    case Situation::Kind::no_record:
        return of(Kind::no_record);
    case Situation::Kind::no_unit:
    case Situation::Kind::connected:
        break;
    }
    return failed(s.last_download) ? of(Kind::upgrade_incomplete, s.last_download) : of(Kind::none);
}

} // namespace

Explanation explain(Stage stage, const Situation& s) {
    switch (stage) {
    case Stage::no_unit:
        return without_unit(s);
    case Stage::offered:
    case Stage::verifying:
        return failed(s.last_download) ? of(Kind::upgrade_incomplete, s.last_download)
                                       : of(Kind::none);
    case Stage::differs:
        if (failed(s.read_back))
            return of(Kind::read_back_failed, s.read_back);
        return failed(s.last_download) ? of(Kind::upgrade_incomplete_differs, s.last_download)
                                       : of(Kind::firmware_differs);
    case Stage::refused:
        return of(Kind::other_product);
    case Stage::downloading:
    case Stage::matches:
        break;
    }
    return of(Kind::none);
}
