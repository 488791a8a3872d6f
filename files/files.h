#pragma once
// The per-process extraction directory and the names of the files the program keeps there.

#include <QString>
#include <QTemporaryDir>

#include <map>
#include <vector>

namespace Files {

// Every file of the extraction directory.
enum class ID : int {
    dfu_util_executable = 0,
    libusb_library = 1,
    firmware_dfu = 2,
    firmware_bin = 3,
    uploaded_FW = 4,      // written by the verification upload
    uploaded_FW_info = 5, // written by reading a unit's firmware information block
    uploaded_OTP = 6,     // written by reading a unit's OTP area
};

// Fresh, private (0700) and unique per process; removed with its contents at exit.
extern QTemporaryDir external_dir;

extern const std::map<ID, QString> basename;

extern const QString desired_FW_fileName_dfu;
extern const QString desired_FW_fileName_bin;
extern const QString uploaded_FW_fileName_bin;
extern const QString uploaded_FW_info_fileName_bin;
extern const QString uploaded_OTP_fileName_bin;
extern const QString dfu_util_executable_fileName;

// The extraction directory's path, "/" and the base name.
QString path_of(const QString& base_name);

// Why the working files could not be prepared: where (the directory in which the extraction
// directory was to be made, or the file that could not be written) and the system's reason.
struct Problem {
    QString where;
    QString why; // empty: no problem
};

// Copies the listed files from ":resources/" into the extraction directory. False when the
// directory is not valid; otherwise true when every copy succeeded or must_succeed is false.
// `problem` (when given) receives the first failure, whatever must_succeed says.
bool extract_resources(std::vector<ID> ids, bool must_succeed, Problem* problem = nullptr);

} // namespace Files
