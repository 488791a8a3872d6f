#pragma once
// One run of a program with both of its outputs, for tests that read standard error too (the
// runner keeps standard output only). A crash or a run that does not end in a minute gives -1.

#include "dfu/command.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ProgramRun {
    int exit_code = -1;
    QByteArray out;
    QByteArray err;
};

ProgramRun run_program(const QString& program, const QStringList& args);
// The same in the given environment.
ProgramRun run_program(const QString& program, const QStringList& args,
                       const QProcessEnvironment& environment);
// The command table's entry with the extra arguments, as the runner would start it.
ProgramRun run_program(DFU::CmdID id, const QStringList& extra);
