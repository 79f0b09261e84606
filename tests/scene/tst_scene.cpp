#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "settings/ProgramFolder.h"

#include <QPushButton>
#include <QTextBrowser>
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

// The event scene and the page view, on real widgets; the audio device is a stand-in here
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

    // Local pages only: a click on a link to the web stays where it is. A page's pictures come from
    // its own folder.
    void pageView()
    {
        m_folder->write("sjis.htm", "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                                    "<body>\x83\x77\x83\x8b\x83\x76 <img src=\"HTML/icon.png\"><a "
                                    "href=\"http://127.0.0.1/b.html\">web</a></body></html>");
        PageView view;
        view.navigate(Paths::fileAddress(Paths::eventPicture())); // a picture shown before
        view.navigate("file://" + m_folder->path() + "/sjis.htm");
        QTextBrowser* browser = view.findChild<QTextBrowser*>();
        QTest::keyClick(browser, Qt::Key_Tab); // a click on the link to the web, from the keyboard
        QTest::keyClick(browser, Qt::Key_Return);
        QCOMPARE(view.mode(), PageView::Mode::Page);
        QCOMPARE(view.pageText().remove(QChar::ObjectReplacementCharacter).trimmed(), u"ヘルプ web"_qs);
        QVERIFY(browser->document()->resource(QTextDocument::ImageResource, QUrl("HTML/icon.png")).isValid());
    }
};

QTEST_MAIN(SceneTest)
#include "tst_scene.moc"
