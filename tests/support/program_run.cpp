#include "program_run.h"

#include <QProcess>

ProgramRun run_program(const QString& program, const QStringList& args) {
    return run_program(program, args, QProcessEnvironment::systemEnvironment());
}

ProgramRun run_program(const QString& program, const QStringList& args,
                       const QProcessEnvironment& environment) {
    QProcess p;
    p.setProcessEnvironment(environment);
    p.start(program, args);
    ProgramRun r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.exit_code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

ProgramRun run_program(DFU::CmdID id, const QStringList& extra) {
    const DFU::Command& command = DFU::commands[id];
    const QString program =
        DFU::Command::path.isEmpty() ? command.program : DFU::Command::path + "/" + command.program;
    return run_program(program, command.args + extra);
}
