#pragma once
// --version: this program's version and the firmware it carries, named as the start-up log
// names it (its identity and who signed it: a key id, or "development, unsigned"), for a person,
// or with --json as one JSON object, a "version" event.

#include "settings/texts.h"

namespace Cli {

void print_version(bool json, const Settings::Texts& texts);

} // namespace Cli
