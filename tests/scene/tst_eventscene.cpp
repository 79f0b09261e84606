#include "SceneFixtures.h"
#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "platform/PageView.h"
#include "settings/ProgramFolder.h"

#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The event scene on real widgets; the audio output is a stand-in whose sound ends when the test says.
class EventSceneTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_folder = std::make_unique<TestProgramFolder>();
        m_folder->write(QStringLiteral("画像データ/subako.html"), "<html><body>resting</body></html>");
        QVERIFY(QImage(40, 30, QImage::Format_RGB32).save(m_folder->file(QStringLiteral("画像データ/Bom.bmp")), "BMP"));
        m_folder->write(QStringLiteral("Sound/Kouka.wav"), makeWave(200));
        m_ui = {new PageView(m_window.get()), new QPushButton(m_window.get()), new QPushButton(m_window.get()),
                new QTimer(m_window.get())};
        m_log = std::make_shared<FakeSoundOutput::Log>();
        m_sound = new SoundCommands(FakeSoundOutput::factory(m_log), m_window.get());
        m_scene = new EventScene(
            m_ui, m_sound, [this] { return m_repeat; }, m_window.get());
        m_scene->prepare();
    }
    void startAndPutBack()
    {
        checkScene(false, false);
        QCOMPARE(m_ui.Timer1->interval(), 100);
        m_scene->start();
        checkScene(true, true);
        QCOMPARE(m_log->events, (QStringList{QStringLiteral("load Kouka.wav"), QStringLiteral("play")}));
        m_ui.WebBrowser1->navigate(QString()); // so that the picture is seen to be shown again
        m_scene->start();                      // while playing: the open device plays on, no second one
        QCOMPARE(m_log->live.size(), 1);
        QCOMPARE(plays(), 1);
        QVERIFY(m_log->live.first()->playing());
        checkScene(true, true);
        m_scene->putBack(); // during playback: stopped and released at once
        QCOMPARE(m_log->events.at(2), QStringLiteral("stop"));
        QCOMPARE(m_log->events.last(), QStringLiteral("unload"));
        checkScene(false, false);
    }
    void endOfSound_data()
    {
        QTest::addColumn<bool>("repeatAtStart");
        QTest::addColumn<bool>("repeatAtEnd");
        QTest::newRow("once") << false << false;
        QTest::newRow("repeating") << true << true;
        QTest::newRow("repeat switched off while playing") << true << false;
    }
    void endOfSound()
    {
        QFETCH(bool, repeatAtStart);
        QFETCH(bool, repeatAtEnd);
        m_repeat = repeatAtStart;
        m_scene->start();
        QTest::qWait(250); // polling alone never ends the scene
        checkScene(true, true);
        m_repeat = repeatAtEnd;
        m_log->live.first()->end();
        if (repeatAtEnd) {
            QTRY_COMPARE_WITH_TIMEOUT(plays(), 2, 1000);
            checkScene(true, true);
            m_log->live.first()->end();
            QTRY_COMPARE_WITH_TIMEOUT(plays(), 3, 1000);
            return;
        }
        // Played once: the device is closed and the timer off, while the picture stays.
        QTRY_VERIFY_WITH_TIMEOUT(!m_ui.Timer1->isActive(), 1000);
        QCOMPARE(plays(), 1);
        checkScene(true, false);
        m_scene->start(); // a later start opens the sound afresh
        QCOMPARE(m_log->events.count(QStringLiteral("load Kouka.wav")), 2);
    }
    void missingSoundStillShowsThePicture()
    {
        QVERIFY(QFile::remove(Paths::effectSound()));
        m_scene->start();
        QVERIFY(m_log->events.isEmpty());
        QTest::qWait(350); // no "stopped" ever comes: the timer keeps looking
        checkScene(true, true);
        m_scene->putBack();
        checkScene(false, false);
    }

private:
    void checkScene(bool event, bool timerOn)
    {
        QCOMPARE(m_ui.Command5->isEnabled(), !event);
        QCOMPARE(m_ui.Command12->isEnabled(), event);
        QCOMPARE(m_ui.Timer1->isActive(), timerOn);
        const char* shown = event ? "画像データ/Bom.bmp" : "画像データ/subako.html";
        QCOMPARE(m_ui.WebBrowser1->address(), QStringLiteral("file://") + m_folder->file(QString::fromUtf8(shown)));
        QCOMPARE(m_ui.WebBrowser1->mode(), event ? PageView::Mode::Picture : PageView::Mode::Page);
        if (!timerOn) // the device is closed whenever nothing watches it
            QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
    }
    int plays() const { return int(m_log->events.count(QStringLiteral("play"))); }

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<TestProgramFolder> m_folder;
    std::shared_ptr<FakeSoundOutput::Log> m_log;
    EventScene::Controls m_ui{};
    SoundCommands* m_sound = nullptr;
    EventScene* m_scene = nullptr;
    bool m_repeat = false;
};

QTEST_MAIN(EventSceneTest)
#include "tst_eventscene.moc"
