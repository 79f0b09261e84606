#pragma once

#include <QByteArrayList>
#include <QStandardPaths>
#include <QTest>
#include <initializer_list>

// Prerequisites from outside the project: servers, daemons and tools that a test drives for real.
// One that is missing fails the test under CI (the environment variable CI is set: everything is
// installed there on purpose, so a gap is a fault) and skips it elsewhere.
//
// Check them in initTestCase(): CTest reports a test executable whose initTestCase() was skipped
// as "Skipped", never as "Passed" (SKIP_REGULAR_EXPRESSION in tests/CMakeLists.txt). A skip in
// any other test function would be hidden behind a passing executable.
namespace Prerequisite {

inline bool underCi()
{
    return qEnvironmentVariableIsSet("CI");
}

// The programs of the list that are neither on PATH nor in /usr/sbin, blank-separated; empty when
// all are there.
inline QByteArray missingPrograms(std::initializer_list<const char*> programs)
{
    QByteArrayList missing;
    const QStringList paths = qEnvironmentVariable("PATH").split(':', Qt::SkipEmptyParts) << "/usr/sbin";
    for (const char* program : programs) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program), paths).isEmpty())
            missing.append(program);
    }
    return missing.join(' ');
}

} // namespace Prerequisite

// Ends the current test function when available is false: QFAIL under CI, QSKIP otherwise.
// what (a const char* or QByteArray) names what is missing.
#define MOSSVALE_REQUIRE(available, what)                                                                              \
    do {                                                                                                               \
        if (!(available)) {                                                                                            \
            const QByteArray mossvaleMissing =                                                                         \
                QByteArray("missing prerequisite (scripts/install-deps installs it): ") + (what);                      \
            if (Prerequisite::underCi())                                                                               \
                QFAIL(mossvaleMissing.constData());                                                                    \
            QSKIP(mossvaleMissing.constData());                                                                        \
        }                                                                                                              \
    } while (false)
