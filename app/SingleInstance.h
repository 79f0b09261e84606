#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

// One running program per data folder, so that two checks and two writers never share its files:
// a lock file in the folder ("mossvale.lock"), and a local socket named after the folder through
// which a second start asks the first to come to the front. A lock left by a program that crashed
// is taken over.
//
// The socket lives in a folder no other user can enter or create first: $XDG_RUNTIME_DIR, or
// without it "mossvale" in the user's cache folder, made owner-only.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Start {
        Holder,         // this process holds the folder and listens for later starts
        HolderDeaf,     // it holds the folder, but later starts cannot reach it: error() says why
        Unlocked,       // the lock cannot be made (a read-only folder): the program runs as before
        AnotherHolds,   // another program holds the folder: ask it to come forward
    };

    // socketFolder empty: the folder described above.
    explicit SingleInstance(const QString& dataFolder, const QString& socketFolder = {}, QObject* parent = nullptr);

    // Takes the lock and, when it is held, listens.
    Start acquire();
    // Asks the program that holds the folder to come forward; holderAnswered follows, within waitMs.
    void askHolderToShow(int waitMs = 2000);
    // Why the last acquire() or askHolderToShow() fell short, in the user's words.
    QString error() const { return m_error; }
    QString socketPath() const { return m_path; }

    // The owner-only folder for the socket; empty with *error set when there is none to trust.
    static QString privateSocketFolder(const QString& wanted, QString* error);

Q_SIGNALS:
    void showRequested();
    void holderAnswered(bool told);

private:
    void answerPeers();
    void endAsking(bool told, const QString& error = {});

    QLockFile m_lock;
    QLocalServer m_server;
    QLocalSocket m_asking;
    QTimer m_askDeadline;
    QString m_path;
    QString m_error;
    bool m_waiting = false; // for the holder's answer
};

class QWidget;
// A second start: asks the holder to come forward and ends; when it cannot be reached, says so
// (standard error, and a box where there is a screen to show it) and ends with status 1.
int runAsSecondStart(SingleInstance& instance);
// The holder cannot listen: says so on standard error and in a box over window.
void tellDeafInstance(const SingleInstance& instance, QWidget* window);
