#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// One loaded sound that can be played from its start, asynchronously, and stopped. It calls the
// finished handler once when a play ends by itself; an output that cannot tell when its sound ends
// (no audio server) simply never calls it.
class SoundOutput
{
public:
    virtual ~SoundOutput() = default;
    virtual void play() = 0;
    virtual void stop() = 0;
    void setFinishedHandler(std::function<void()> handler) { m_finished = std::move(handler); }

protected:
    void reportFinished()
    {
        if (m_finished)
            m_finished();
    }

private:
    std::function<void()> m_finished;
};

// Makes the output for a sound file that has already been checked to be a readable PCM WAV file.
using SoundOutputFactory = std::function<std::unique_ptr<SoundOutput>(const QString& path)>;

// The multimedia command strings the program sends for its effect sound, over QSoundEffect:
//   open "<file>" [type waveaudio] [alias <name>]   open a WAV file under a device name
//   play <name> [from 0]                            play asynchronously; "from 0" restarts
//   status <name> mode                              reply "playing" or "stopped"
//   stop <name> | stop all                          stop playing, keep the device open
//   close <name> | close all                        stop and release the device
// Words are separated by blanks and compared without regard to case; a file name with blanks is
// quoted. send() answers 0 on success or one of the error codes; a failing command changes nothing
// and leaves the reply empty. "playing" means a play was asked for and its end has not been seen:
// without an audio server the end is never seen, so the mode stays "playing" until "stop".
class SoundCommands : public QObject
{
    Q_OBJECT
public:
    enum Result : int {
        Success = 0,
        UnknownCommand = 1, // the first word is no command
        BadSyntax = 2,      // missing, extra or unknown words; unbalanced quote
        NoSuchDevice = 3,   // the name is not open
        AliasInUse = 4,     // open under a name that is already open
        CannotOpenFile = 5, // missing, unreadable, or not a PCM WAV file
        Unsupported = 6,    // a well-formed request this device cannot do (play from a position)
    };

    // Without a factory, sounds play through QSoundEffect on the default audio output.
    explicit SoundCommands(SoundOutputFactory factory = {}, QObject* parent = nullptr);
    ~SoundCommands() override;

    int send(const QString& command, QString* reply = nullptr);

    // Whether a device is open under the name (for callers and tests that must not guess).
    bool isOpen(const QString& name) const;
    int openCount() const { return int(m_devices.size()); }

    // True for a readable RIFF/WAVE file with PCM samples, which is what QSoundEffect plays.
    static bool isPlayableWave(const QString& path);

private:
    struct Device
    {
        std::unique_ptr<SoundOutput> output;
        bool playing = false;
    };

    int open(const QStringList& words);
    int play(const QStringList& words);
    int status(const QStringList& words, QString* reply);
    int stopOrClose(const QStringList& words, bool close);
    Device* device(const QString& name);

    SoundOutputFactory m_factory;
    QHash<QString, std::shared_ptr<Device>> m_devices; // by lower-case name
};
