#pragma once

#include "platform/SoundCommands.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>
#include <cmath>
#include <memory>
#include <utility>

// Writes a fixture file and gives back its path; a test cannot go on without it.
inline QString writeFixture(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write the fixture %s", qPrintable(path));
    return path;
}

// A 16-bit mono PCM WAV file holding a sine tone.
inline QByteArray makeWave(int milliseconds, int hertz = 440, int rate = 22050)
{
    const quint32 samples = quint32(rate * milliseconds / 1000);
    QByteArray file;
    const auto put = [&file](quint32 value, int bytes) {
        char b[4];
        qToLittleEndian(value, b);
        file.append(b, bytes);
    };
    file.append("RIFF");
    put(36 + 2 * samples, 4);
    file.append("WAVEfmt ");
    // Format chunk: PCM, mono, rate, bytes per second, block size, bits per sample.
    for (const auto& [value, bytes] :
         {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {quint32(rate), 4}, {2u * rate, 4}, {2u, 2}, {16u, 2}})
        put(value, bytes);
    file.append("data");
    put(2 * samples, 4);
    for (quint32 i = 0; i < samples; ++i)
        put(quint16(qint16(0.5 * 32767 * std::sin(2 * M_PI * hertz * i / rate))), 2);
    return file;
}

// Stands in for the audio output: records what it is asked and ends its sound when the test says.
class FakeSoundOutput : public SoundOutput
{
public:
    struct Log
    {
        QList<FakeSoundOutput*> live; // outputs of open devices, oldest first
        QStringList events;           // "load <file>", "play", "stop", "unload"
    };
    FakeSoundOutput(std::shared_ptr<Log> log, const QString& path) : m_log(std::move(log))
    {
        m_log->live.append(this);
        m_log->events.append(QStringLiteral("load ") + path.section(u'/', -1));
    }
    ~FakeSoundOutput() override
    {
        m_log->live.removeOne(this);
        m_log->events.append(QStringLiteral("unload"));
    }
    void play() override
    {
        m_playing = true;
        m_log->events.append(QStringLiteral("play"));
    }
    void stop() override
    {
        m_playing = false;
        m_log->events.append(QStringLiteral("stop"));
    }
    // The sound comes to its end by itself.
    void end()
    {
        if (std::exchange(m_playing, false))
            reportFinished();
    }
    bool playing() const { return m_playing; }

    static SoundOutputFactory factory(const std::shared_ptr<Log>& log)
    {
        return [log](const QString& path) { return std::make_unique<FakeSoundOutput>(log, path); };
    }

private:
    std::shared_ptr<Log> m_log;
    bool m_playing = false;
};
