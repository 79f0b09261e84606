#pragma once

#include "platform/SoundCommands.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>
#include <cmath>
#include <memory>

// A 16-bit mono PCM WAV file holding a sine tone.
inline QByteArray makeWave(int milliseconds, int hertz = 440, int rate = 22050)
{
    const int samples = rate * milliseconds / 1000;
    QByteArray data(samples * 2, '\0');
    for (int i = 0; i < samples; ++i) {
        const double value = 0.5 * std::sin(2 * M_PI * hertz * i / rate);
        qToLittleEndian<qint16>(qint16(value * 32767), data.data() + 2 * i);
    }
    QByteArray file;
    const auto u32 = [&file](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        file.append(b, 4);
    };
    const auto u16 = [&file](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        file.append(b, 2);
    };
    file.append("RIFF");
    u32(36 + quint32(data.size()));
    file.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(quint32(rate));
    u32(quint32(rate * 2));
    u16(2);
    u16(16);
    file.append("data");
    u32(quint32(data.size()));
    return file + data;
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
        if (!m_playing)
            return;
        m_playing = false;
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
