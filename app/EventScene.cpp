#include "app/EventScene.h"

#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "settings/ProgramFolder.h"

#include <QAbstractButton>
#include <QTimer>

namespace {
const QString DeviceName = QStringLiteral("bgm");
constexpr int PollMilliseconds = 100;
} // namespace

EventScene::EventScene(Controls controls, SoundCommands* sound, std::function<bool()> repeatWanted, QObject* parent)
    : QObject(parent), m_controls(controls), m_sound(sound), m_repeatWanted(std::move(repeatWanted))
{
    m_controls.Timer1->setInterval(PollMilliseconds);
    connect(m_controls.Timer1, &QTimer::timeout, this, &EventScene::poll);
}

void EventScene::prepare()
{
    m_controls.Timer1->stop();
    m_controls.Command5->setEnabled(true);
    m_controls.Command12->setEnabled(false);
    m_controls.WebBrowser1->navigate(Paths::fileAddress(Paths::restingPage()));
}

void EventScene::start(const QString& sound)
{
    const QString file = sound.isEmpty() ? Paths::effectSound() : sound;
    m_sound->send(QStringLiteral("open \"") + file + QStringLiteral("\" alias ") + DeviceName);
    m_sound->send(QStringLiteral("play ") + DeviceName);
    // An active timer keeps its rhythm: starting it again would only delay the next look.
    if (!m_controls.Timer1->isActive())
        m_controls.Timer1->start();
    m_controls.WebBrowser1->navigate(Paths::fileAddress(Paths::eventPicture()));
    m_controls.Command5->setEnabled(false);
    m_controls.Command12->setEnabled(true);
}

void EventScene::putBack()
{
    m_controls.WebBrowser1->navigate(Paths::fileAddress(Paths::restingPage()));
    silence();
    m_controls.Timer1->stop();
    m_controls.Command5->setEnabled(true);
    m_controls.Command12->setEnabled(false);
}

void EventScene::poll()
{
    QString mode;
    m_sound->send(QStringLiteral("status ") + DeviceName + QStringLiteral(" mode"), &mode);
    // A failed query leaves the reply empty, which is not "stopped": the timer keeps looking.
    if (!mode.startsWith(u"stopped"))
        return;
    if (m_repeatWanted && m_repeatWanted()) {
        m_sound->send(QStringLiteral("play ") + DeviceName + QStringLiteral(" from 0"));
        return;
    }
    silence();
    m_controls.Timer1->stop();
}

void EventScene::silence()
{
    m_sound->send(QStringLiteral("stop ") + DeviceName);
    m_sound->send(QStringLiteral("close ") + DeviceName);
}

#include "moc_EventScene.cpp"
