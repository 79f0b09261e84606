#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One running program per data folder, so that two checks and two writers never share its files:
// a lock file in the folder ("mossvale.lock"), and a local socket named after the folder through
// which a second start asks the first to come to the front. A lock left by a program that crashed
// is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);

    // True when this process now holds the folder; it then listens for later starts. False when
    // another program holds it, or the lock cannot be made (a read-only folder: then nothing can
    // be written there either, and the program runs as before).
    bool acquire();
    // Asks the program that holds the folder to show its window; waits at most waitMs (the program
    // has no window of its own yet). True when it was told.
    bool askHolderToShow(int waitMs = 2000) const;

Q_SIGNALS:
    void showRequested();

private:
    QLockFile m_lock;
    QLocalServer m_server;
    QString m_name;
};
