#pragma once
// The fixed table of the dfu-util command lines the program ever runs.

// The memories the commands name; who adds a region to upload_FW takes it from there too.
#include "device/memory_map.h"

#include <QString>
#include <QStringList>

#include <map>

namespace DFU {

enum class CmdID : int {
    version = 0,               // print the version banner (execution test)
    list = 1,                  // list the DFU interfaces of USB vendor 0483
    upload_OTP = 2,            // read the 512-byte OTP area into a file
    upload_FW_info = 3,        // read the first 2048 bytes of flash into a file
    upload_FW = 4,             // read a given number of bytes of flash into a file
    download_FW = 5,           // write a DfuSe file into the unit
    setup_prepared_config = 6, // select a prepared simulator configuration
};

struct Command {
    QString program = QStringLiteral("dfu-util");
    QStringList args; // one element per argument: no shell, no quoting, no splitting

    // When non-empty, the directory in which every command's program lies.
    static QString path;

    // For diagnostics: program(arg,arg,...).
    operator QString() const;
};

// Built during static initialisation; changed once by start-up (simulator or extraction
// directory) before the worker thread starts, and only read afterwards.
extern std::map<CmdID, Command> commands;

} // namespace DFU
