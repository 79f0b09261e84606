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

struct SceneRow { QByteArray sound; bool playable, repeat; }; // sound: the effect sound file
} // namespace

// The event scene on real widgets; the audio device is a stand-in here
// (tst_sounddialup plays through a real one).
class SceneTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;

private Q_SLOTS:
    void init() { m_folder = std::make_unique<TestProgramFolder>(true, true); }

    // Only PCM WAV files are played, their header read within its bounds; without a sound the
    // picture shows all the same.
    void eventScene_data()
    {
        const QByteArray wave = TestProgramFolder(true, true).read(QStringLiteral("Sound/Kouka.wav"));
        QTest::addColumn<SceneRow>("row");
        QTest::newRow("repeating") << SceneRow{wave, true, true};
        QTest::newRow("after a chunk of odd size") << SceneRow{wave.left(12) + QByteArrayLiteral("LIST\5\0\0\0abcde\0") + wave.mid(12), true, false};
        QTest::newRow("mp3 format tag") << SceneRow{QByteArray(wave).replace(20, 1, "\x55"), false, false};
        QTest::newRow("format cut short") << SceneRow{wave.left(21), false, false};
        QTest::newRow("chunk header cut short") << SceneRow{wave.left(12) + "LIST\5", false, false};
    }
    void eventScene()
    {
        QFETCH(SceneRow, row);
        m_folder->write(QStringLiteral("Sound/Kouka.wav"), row.sound);
        int loads = 0, plays = 0;
        FakeOutput* output = nullptr; // that of the open device
        bool repeat = false;          // asked when the sound ends, not when it starts
        QWidget window;
        const EventScene::Controls ui{new PageView(&window), new QPushButton(&window), new QPushButton(&window),
                                      new QTimer(&window)};
        auto* sound = new SoundCommands(
            [&](const QString&) { return ++loads, std::make_unique<FakeOutput>(&plays, &output); }, &window);
        EventScene scene(ui, sound, [&repeat] { return repeat; });
        // The buttons, the timer and the picture of the scene or of rest; the device closed whenever
        // nothing watches it.
        const auto shows = [&](bool event, bool timerOn) {
            return ui.Command5->isEnabled() != event && ui.Command12->isEnabled() == event &&
                   ui.Timer1->isActive() == timerOn && (timerOn || !sound->isOpen(QStringLiteral("bgm"))) &&
                   ui.WebBrowser1->address() == Paths::fileAddress(event ? Paths::eventPicture() : Paths::restingPage());
        };
        scene.prepare();
        scene.start();
        scene.start(); // while playing: the open device plays on, no second one
        scene.poll();  // a sound that has not ended, or never started, is not over: the scene stays
        QVERIFY(loads == int(row.playable) && plays == loads && shows(true, true));
        repeat = row.repeat;
        if (row.playable)
            output->end();
        if (row.repeat)
            QTRY_COMPARE_WITH_TIMEOUT(plays, 2, 1000);
        else if (row.playable) // the device is closed and the timer off, while the picture stays
            QTRY_VERIFY_WITH_TIMEOUT(!ui.Timer1->isActive(), 1000);
        QVERIFY(shows(true, row.repeat || !row.playable));
        scene.putBack(); // also during playback: stopped and released at once
        QVERIFY(shows(false, false));
    }
};

QTEST_MAIN(SceneTest)
#include "tst_scene.moc"
