#include "platform/SoundCommands.h"

#include <QFile>
#include <QSoundEffect>
#include <QUrl>

namespace {

class EffectOutput : public SoundOutput
{
public:
    explicit EffectOutput(const QString& path)
    {
        m_effect.setSource(QUrl::fromLocalFile(path));
        QObject::connect(&m_effect, &QSoundEffect::playingChanged, &m_effect, [this] { playingChanged(); });
        QObject::connect(&m_effect, &QSoundEffect::statusChanged, &m_effect, [this] {
            // A file that cannot be decoded after all ends its play without sound; say so rather than
            // leaving the device "playing" for ever.
            if (m_effect.status() == QSoundEffect::Error && m_wanted) {
                m_wanted = m_started = false;
                reportFinished();
            }
        });
    }
    void play() override
    {
        m_effect.stop();
        m_started = false;
        m_wanted = true;
        // While the file is still loading, QSoundEffect keeps the request and plays once it is ready.
        m_effect.play();
    }
    void stop() override
    {
        m_wanted = m_started = false;
        m_effect.stop();
    }

private:
    void playingChanged()
    {
        if (m_effect.isPlaying()) {
            m_started = m_wanted;
        } else if (m_started) {
            m_wanted = m_started = false;
            reportFinished();
        }
    }

    QSoundEffect m_effect;
    bool m_wanted = false;  // play() asked for and neither stopped nor finished
    bool m_started = false; // QSoundEffect has said it is playing since then
};

// Splits a command into blank-separated words; a double-quoted word may hold blanks.
bool splitWords(const QString& command, QStringList* words)
{
    QString word;
    bool inQuotes = false;
    bool haveWord = false;
    for (const QChar c : command) {
        if (c == u'"') {
            inQuotes = !inQuotes;
            haveWord = true;
        } else if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (haveWord)
                words->append(word);
            word.clear();
            haveWord = false;
        } else {
            word += c;
            haveWord = true;
        }
    }
    if (haveWord)
        words->append(word);
    return !inQuotes;
}

bool is(const QString& word, const char* keyword)
{
    return word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

quint32 littleEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto b = [&](int i) { return quint32(quint8(bytes.at(at + i))); };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}

} // namespace

SoundCommands::SoundCommands(SoundOutputFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory))
{
    if (!m_factory)
        m_factory = [](const QString& path) { return std::unique_ptr<SoundOutput>(new EffectOutput(path)); };
}

SoundCommands::~SoundCommands() = default;

int SoundCommands::send(const QString& command, QString* reply)
{
    if (reply)
        reply->clear();
    QStringList words;
    if (!splitWords(command, &words))
        return BadSyntax;
    if (words.isEmpty())
        return UnknownCommand;
    const QString verb = words.takeFirst();
    if (is(verb, "open"))
        return open(words);
    if (is(verb, "play"))
        return play(words);
    if (is(verb, "status"))
        return status(words, reply);
    if (is(verb, "stop"))
        return stopOrClose(words, false);
    if (is(verb, "close"))
        return stopOrClose(words, true);
    return UnknownCommand;
}

bool SoundCommands::isOpen(const QString& name) const
{
    return m_devices.contains(name.toLower());
}

int SoundCommands::open(const QStringList& words)
{
    if (words.isEmpty())
        return BadSyntax;
    const QString path = words.first();
    QString name = path;
    for (qsizetype i = 1; i < words.size(); i += 2) {
        if (i + 1 >= words.size())
            return BadSyntax;
        if (is(words[i], "alias"))
            name = words[i + 1];
        else if (!is(words[i], "type") || !is(words[i + 1], "waveaudio"))
            return BadSyntax;
    }
    if (name.isEmpty() || is(name, "all"))
        return BadSyntax;
    if (isOpen(name))
        return AliasInUse;
    if (!isPlayableWave(path))
        return CannotOpenFile;
    auto device = std::make_shared<Device>();
    device->output = m_factory(path);
    if (!device->output)
        return CannotOpenFile;
    Device* raw = device.get();
    device->output->setFinishedHandler([raw] { raw->playing = false; });
    m_devices.insert(name.toLower(), device);
    return Success;
}

int SoundCommands::play(const QStringList& words)
{
    if (words.size() != 1 && words.size() != 3)
        return BadSyntax;
    Device* target = device(words[0]);
    if (!target)
        return NoSuchDevice;
    if (words.size() == 3) {
        bool isNumber = false;
        const qlonglong from = words[2].toLongLong(&isNumber);
        if (!is(words[1], "from") || !isNumber || from < 0)
            return BadSyntax;
        // QSoundEffect cannot seek: only the start of the sound can be asked for.
        if (from != 0)
            return Unsupported;
    } else if (target->playing) {
        return Success; // already playing: play goes on where it is
    }
    target->playing = true;
    target->output->play();
    return Success;
}

int SoundCommands::status(const QStringList& words, QString* reply)
{
    if (words.size() != 2)
        return BadSyntax;
    const Device* target = device(words[0]);
    if (!target)
        return NoSuchDevice;
    if (!is(words[1], "mode"))
        return Unsupported;
    if (reply)
        *reply = target->playing ? QStringLiteral("playing") : QStringLiteral("stopped");
    return Success;
}

int SoundCommands::stopOrClose(const QStringList& words, bool close)
{
    if (words.size() != 1)
        return BadSyntax;
    QList<QString> names;
    if (is(words[0], "all"))
        names = m_devices.keys();
    else if (device(words[0]))
        names.append(words[0].toLower());
    else
        return NoSuchDevice;
    for (const QString& name : names) {
        const std::shared_ptr<Device> target = m_devices.value(name);
        target->playing = false;
        target->output->stop();
        if (close)
            m_devices.remove(name);
    }
    return Success;
}

SoundCommands::Device* SoundCommands::device(const QString& name)
{
    const auto it = m_devices.constFind(name.toLower());
    return it == m_devices.constEnd() ? nullptr : it.value().get();
}

bool SoundCommands::isPlayableWave(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The format chunk comes early in every file we ship; a bounded read keeps open quick.
    const QByteArray head = file.read(4096);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;
    // Both a PCM format chunk and the start of the samples must be there.
    bool pcm = false;
    qsizetype at = 12;
    while (at + 8 <= head.size()) {
        const QByteArray id = head.mid(at, 4);
        const quint32 size = littleEndian32(head, at + 4);
        if (id == "data")
            return pcm;
        if (id == "fmt ") {
            if (size < 16 || at + 8 + 16 > head.size())
                return false;
            const quint16 tag = quint16(quint8(head.at(at + 8)) | quint8(head.at(at + 9)) << 8);
            pcm = tag == 1 || tag == 3 || tag == 0xFFFE; // PCM, float, extensible
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    return false;
}

#include "moc_SoundCommands.cpp"
