#pragma once

#include <QObject>
#include <functional>

class PageView;
class QAbstractButton;
class QTimer;
class SoundCommands;

// The main window's alert for new mail: the event picture in the picture area and the effect sound
// under the device name "bgm". It works on the main window's own controls:
//   resting          resting page, Command5 enabled, Command12 disabled, Timer1 off, "bgm" closed
//   event, sound on  event picture, Command5 disabled, Command12 enabled, Timer1 on, "bgm" playing
//   event, sound off event picture, Command5 disabled, Command12 enabled, Timer1 off, "bgm" closed
// Timer1 is set to 100 ms and connected to poll() here; the owner must not connect it again.
// Results of the sound commands are ignored, as a missing sound must not stop the alert.
class EventScene : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        PageView* WebBrowser1;
        QAbstractButton* Command5;
        QAbstractButton* Command12;
        QTimer* Timer1;
    };

    // repeatWanted tells whether the sound starts again when it ends (the main window's Check1).
    EventScene(Controls controls, SoundCommands* sound, std::function<bool()> repeatWanted, QObject* parent = nullptr);

    // Start-up: Timer1 off, Command5 enabled, Command12 disabled, resting page.
    void prepare();
    // Command5_Click: open and play the sound, Timer1 on, event picture, buttons switched. Runs the
    // same whether or not Command5 is enabled; while "bgm" is already open the open fails and the
    // open device plays on.
    // sound: an account's own sound file, or empty for the usual one.
    void start(const QString& sound = QString());
    // Command12_Click: resting page, sound stopped and closed, Timer1 off, buttons switched back.
    void putBack();
    // Timer1_Timer: when the sound has stopped, plays it again from its start if repeatWanted,
    // else closes the device and turns Timer1 off. Never touches the picture or the buttons.
    void poll();
    // "stop bgm" then "close bgm", at the end of start-up and at shutdown; Timer1 is left alone.
    void silence();

private:
    Controls m_controls;
    SoundCommands* m_sound;
    std::function<bool()> m_repeatWanted;
};
