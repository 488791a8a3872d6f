#pragma once
// The dfu-util executable itself: where it is extracted and whether it is the expected one.

#include <QString>

namespace DFU {
namespace dfu_util {

// What dfu-util 0.9 prints for -V: 261 characters in seven lines, each ended by a line feed.
extern const QString expected_output_of_execution_test;

QString basename();
// The extracted executable in the extraction directory, in simulator mode too.
QString full_path();
// Runs "-V"; true only for exit code 0 and exactly the expected banner. The verdict is logged.
bool execution_test();

} // namespace dfu_util
} // namespace DFU
