#pragma once

#include <QProcess>

// Runs a tool that builds, inspects or validates what is installed, bounded in time.
struct ToolRun
{
    bool ok = false; // ended by itself within the time, with exit code 0
    QByteArray out, err;
};

inline ToolRun runTool(const QString& program, const QStringList& arguments, int timeoutMs = 60'000,
                       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process; // killed by its destructor if it outlives the time
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    return {ended && process.exitCode() == 0, process.readAllStandardOutput(), process.readAllStandardError()};
}
