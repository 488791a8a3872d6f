#pragma once
// The dfu-util executable itself: where it is extracted and whether it is the expected one.

#include <QString>

namespace DFU {
namespace dfu_util {

// What dfu-util 0.9 prints for -V: 261 characters in seven lines, each ended by a line feed.
// Defined here, so that the simulator program prints it without the executable's other needs.
inline const QString expected_output_of_execution_test = QStringLiteral(
    "dfu-util 0.9\n"
    "\n"
    "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
    "Copyright 2010-2016 Tormod Volden and Stefan Schmidt\n"
    "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
    "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n"
    "\n");

QString basename();
// The extracted executable in the extraction directory, in simulator mode too.
QString full_path();
// Runs "-V"; true only for exit code 0 and exactly the expected banner. The verdict is logged.
bool execution_test();

} // namespace dfu_util
} // namespace DFU
