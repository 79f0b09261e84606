#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Runs the tools that build, inspect and validate what is installed, each bounded in time.
struct ToolRun
{
    bool finished = false; // ended by itself within the time, not crashed
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline ToolRun runTool(const QString& program, const QStringList& arguments, int timeoutMs = 60'000,
                       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                       const QString& folder = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5'000);
    }
    run.finished = process.exitStatus() == QProcess::NormalExit && process.state() == QProcess::NotRunning &&
                   process.error() != QProcess::FailedToStart;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// The lines of a lintian report that are errors or warnings ("E: " or "W: ").
inline QByteArrayList lintianComplaints(const QByteArray& report)
{
    QByteArrayList complaints;
    for (const QByteArray& line : report.split('\n')) {
        if (line.startsWith("E: ") || line.startsWith("W: "))
            complaints.append(line);
    }
    return complaints;
}

// The version of debian/changelog's newest entry: "mossvale (1.3) unstable; ..." gives "1.3".
inline QString changelogVersion(const QByteArray& changelog)
{
    const int open = changelog.indexOf('('), close = changelog.indexOf(')');
    return open < 0 || close < open ? QString() : QString::fromUtf8(changelog.mid(open + 1, close - open - 1));
}
