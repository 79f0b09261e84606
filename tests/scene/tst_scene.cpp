#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "settings/ProgramFolder.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {
// Stands in for the audio device: it counts plays, and its sound ends when the test says, never by
// itself.
struct FakeOutput : SoundOutput
{
    FakeOutput(int* plays, FakeOutput** open) : plays(plays), open(open) { *open = this; }
    ~FakeOutput() override { *open = nullptr; }
    void play() override { ++*plays; }
    void stop() override {}
    void end() { reportFinished(); }
    int* plays;
    FakeOutput** open;
};
} // namespace

// The event scene on real widgets; the audio device is a stand-in here
// (tst_sounddialup plays through a real one).
class SceneTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;

private Q_SLOTS:
    void init() { m_folder = std::make_unique<TestProgramFolder>(true, true); }

    // A PCM WAV file is played, its header read past a chunk of odd size, and played again when the
    // sound ends if the scene repeats by then.
    void eventScene()
    {
        const QByteArray wave = m_folder->read(QStringLiteral("Sound/Kouka.wav"));
        m_folder->write(QStringLiteral("Sound/Kouka.wav"), wave.left(12) + QByteArrayLiteral("LIST\5\0\0\0abcde\0") + wave.mid(12));
        int loads = 0, plays = 0;
        FakeOutput* output = nullptr; // that of the open device
        bool repeat = false;          // asked when the sound ends, not when it starts
        QWidget window;
        const EventScene::Controls ui{new PageView(&window), new QPushButton(&window), new QPushButton(&window),
                                      new QTimer(&window)};
        auto* commands = new SoundCommands(
            [&](const QString&) { return ++loads, std::make_unique<FakeOutput>(&plays, &output); }, &window);
        EventScene scene(ui, commands, [&repeat] { return repeat; });
        // The buttons, the timer and the picture of the scene or of rest; the device closed whenever
        // nothing watches it.
        const auto shows = [&](bool event) {
            return ui.Command5->isEnabled() != event && ui.Command12->isEnabled() == event &&
                   ui.Timer1->isActive() == event && (event || !commands->isOpen(QStringLiteral("bgm"))) &&
                   ui.WebBrowser1->address() == Paths::fileAddress(event ? Paths::eventPicture() : Paths::restingPage());
        };
        scene.prepare();
        scene.start();
        scene.start(); // while playing: the open device plays on, no second one
        scene.poll();  // a sound that has not ended is not over: the scene stays
        QVERIFY(loads == 1 && plays == 1 && shows(true));
        repeat = true;
        output->end();
        QTRY_COMPARE_WITH_TIMEOUT(plays, 2, 1000);
        QVERIFY(shows(true));
        scene.putBack(); // also during playback: stopped and released at once
        QVERIFY(shows(false));
    }
};

QTEST_MAIN(SceneTest)
#include "tst_scene.moc"
