#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "settings/ProgramFolder.h"

#include <QPushButton>
#include <QTcpServer>
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

// clang-format off
struct SceneRow { QByteArray sound; bool playable, repeat; }; // sound: the effect sound file
// clang-format on

} // namespace

// The event scene and the page view, on real widgets; the
// audio device is a stand-in here (tst_sounddialup plays through a real one).
class SceneTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_loads = m_plays = 0;
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_window = std::make_unique<QWidget>();
        m_ui = {new PageView(m_window.get()), new QPushButton(m_window.get()), new QPushButton(m_window.get()),
                new QTimer(m_window.get())};
        m_sound = new SoundCommands(
            [this](const QString&) { return ++m_loads, std::make_unique<FakeOutput>(&m_plays, &m_output); },
            m_window.get());
        m_scene = new EventScene(
            m_ui, m_sound, [this] { return m_repeat; }, m_window.get());
        m_scene->prepare();
    }

    void eventScene_data()
    {
        QFile shipped(QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/Sound/Kouka.wav"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        const QByteArray wave = shipped.readAll();
        QTest::addColumn<SceneRow>("row");
        QTest::newRow("repeating") << SceneRow{wave, true, true};
        const QByteArray oddChunk = wave.left(12) + QByteArrayLiteral("LIST\5\0\0\0abcde\0") + wave.mid(12);
        QTest::newRow("after a chunk of odd size") << SceneRow{oddChunk, true, false};
        // Only PCM WAV files are played, their header read within its bounds; without a sound the
        // picture shows all the same.
        QTest::newRow("mp3 format tag") << SceneRow{QByteArray(wave).replace(20, 1, "\x55"), false, false};
        QTest::newRow("format cut short") << SceneRow{wave.left(21), false, false};
        QTest::newRow("chunk header cut short") << SceneRow{wave.left(12) + "LIST\5", false, false};
    }
    void eventScene()
    {
        QFETCH(SceneRow, row);
        m_folder->write(QStringLiteral("Sound/Kouka.wav"), row.sound);
        m_repeat = false; // asked when the sound ends, not when it starts
        m_scene->start();
        m_scene->start(); // while playing: the open device plays on, no second one
        m_scene->poll();  // a sound that has not ended, or never started, is not over: the scene stays
        QVERIFY(m_loads == int(row.playable) && m_plays == m_loads);
        checkScene(true, true);
        m_repeat = row.repeat;
        if (row.playable)
            m_output->end();
        if (row.repeat)
            QTRY_COMPARE_WITH_TIMEOUT(m_plays, 2, 1000);
        else if (row.playable) // the device is closed and the timer off, while the picture stays
            QTRY_VERIFY_WITH_TIMEOUT(!m_ui.Timer1->isActive(), 1000);
        checkScene(true, row.repeat || !row.playable);
        m_scene->putBack(); // also during playback: stopped and released at once
        checkScene(false, false);
    }

    // Local pages only: neither a web address nor a page naming one connects anywhere, and a click on
    // a link to the web stays where it is. A page's pictures come from its own folder.
    void pageView()
    {
        QTcpServer web; // the web, as far as a page could reach it
        QVERIFY(web.listen(QHostAddress::LocalHost));
        const QByteArray root = "http://127.0.0.1:" + QByteArray::number(web.serverPort()) + '/';
        m_folder->write("sjis.htm", "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                                    "<body>\x83\x77\x83\x8b\x83\x76 <img src=\"HTML/icon.png\"><img src=\"" +
                                        root + "a.png\"><a href=\"" + root + "b.html\">web</a></body></html>");
        PageView view;
        view.navigate(Paths::fileAddress(Paths::eventPicture())); // a picture shown before
        view.navigate("file://" + m_folder->path() + "/sjis.htm");
        QTextBrowser* browser = view.findChild<QTextBrowser*>();
        QTest::keyClick(browser, Qt::Key_Tab); // a click on the link to the web, from the keyboard
        QTest::keyClick(browser, Qt::Key_Return);
        QCOMPARE(view.mode(), PageView::Mode::Page);
        QCOMPARE(view.pageText().remove(QChar::ObjectReplacementCharacter).trimmed(), u"ヘルプ web"_qs);
        QVERIFY(browser->document()->resource(QTextDocument::ImageResource, QUrl("HTML/icon.png")).isValid());
        view.navigate(QString::fromUtf8(root + "c.html"));
        QCOMPARE(view.mode(), PageView::Mode::NotFound);
        QVERIFY(!QTest::qWaitFor([&web] { return web.hasPendingConnections(); }, 100));
    }

private:
    void checkScene(bool event, bool timerOn)
    {
        QCOMPARE(m_ui.Command5->isEnabled(), !event);
        QCOMPARE(m_ui.Command12->isEnabled(), event);
        QCOMPARE(m_ui.Timer1->isActive(), timerOn);
        QCOMPARE(m_ui.WebBrowser1->address(), Paths::fileAddress(event ? Paths::eventPicture() : Paths::restingPage()));
        if (!timerOn) // the device is closed whenever nothing watches it
            QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
    }

    int m_loads = 0, m_plays = 0;
    FakeOutput* m_output = nullptr; // that of the open device
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<QWidget> m_window;
    EventScene::Controls m_ui{};
    SoundCommands* m_sound = nullptr;
    EventScene* m_scene = nullptr;
    bool m_repeat = false;
};

QTEST_MAIN(SceneTest)
#include "tst_scene.moc"
