#pragma once
// The environment of the runner's children, the dfu-util runs: the program's own, with one test
// hook. A test that emulates units at the kernel's interface (umockdev) names the preload
// library that carries its units in ORVANTA_DFU_UTIL_PRELOAD; only the children get it, as
// LD_PRELOAD. The program itself is never preloaded: its sanitizer builds refuse a library
// loaded ahead of their runtime. Nothing else reads the variable; unset or empty, the children
// inherit the environment unchanged.

#include <QProcess>

namespace DFU {

// The name of the test hook's variable.
extern const char dfu_util_preload_variable[];

// Gives `process`, before it starts, the hook's preload (ahead of any LD_PRELOAD of the
// program's environment); leaves it alone when the hook is not set.
void prepare_child_environment(QProcess& process);

} // namespace DFU
