#include "SceneFixtures.h"
#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "platform/Twips.h"
#include "settings/ProgramFolder.h"

#include <QBuffer>
#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The event scene on real widgets laid out as in the main window; the audio output is a stand-in
// whose sound ends when the test says.
class EventSceneTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void buttonsFollowTheScene();
    void endOfSound_data();
    void endOfSound();
    void repeatSwitchIsReadWhenTheSoundEnds();
    void secondStartWhilePlayingKeepsOneDevice();
    void startAfterTheDeviceClosedPlaysAgain();
    void missingSoundStillShowsThePicture();
    void putBackDuringPlaybackStopsAtOnce();
    void screenshots();

private:
    void checkResting();
    void checkEvent(bool timerOn);

    std::unique_ptr<TestProgramFolder> m_folder;
    std::shared_ptr<FakeSoundOutput::Log> m_log;
    std::unique_ptr<QWidget> m_window;
    PageView* m_view = nullptr;
    QPushButton* m_command5 = nullptr;
    QPushButton* m_command12 = nullptr;
    QTimer* m_timer = nullptr;
    SoundCommands* m_sound = nullptr;
    EventScene* m_scene = nullptr;
    bool m_repeat = false;
};

void EventSceneTest::init()
{
    m_folder = std::make_unique<TestProgramFolder>();
    m_folder->write(QStringLiteral("画像データ/subako.html"),
                    "<html><head><meta charset=\"utf-8\"></head><body bgcolor=\"#e0f0e0\">"
                    "<h2>新着メールはありません</h2><img src=\"leaf.png\"></body></html>");
    QImage leaf(60, 40, QImage::Format_RGB32);
    leaf.fill(QColor(0, 128, 0));
    leaf.save(m_folder->file(QStringLiteral("画像データ/leaf.png")));
    QImage bomb(337, 287, QImage::Format_RGB32);
    bomb.fill(QColor(255, 200, 0));
    for (int y = 60; y < 227; ++y)
        for (int x = 80; x < 257; ++x)
            if ((x - 168) * (x - 168) + (y - 143) * (y - 143) < 80 * 80)
                bomb.setPixel(x, y, qRgb(200, 0, 0));
    QVERIFY(bomb.save(m_folder->file(QStringLiteral("画像データ/Bom.bmp")), "BMP"));
    m_folder->write(QStringLiteral("Sound/Kouka.wav"), makeWave(200));

    m_window = std::make_unique<QWidget>();
    m_window->resize(twipSize(6495, 4605));
    m_window->setStyleSheet(QStringLiteral("background-color: rgb(0, 192, 0);"));
    auto* picture1 = new QWidget(m_window.get());
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setGeometry(twipRect(1440, 0, 5055, 4300));
    m_view = new PageView(picture1);
    m_view->setObjectName(QStringLiteral("WebBrowser1"));
    m_view->setStyleSheet(QStringLiteral("background-color: white;"));
    m_view->setGeometry(twipRect(-360, -360, 5655, 5175));
    m_command5 = new QPushButton(QStringLiteral("イベント確認"), m_window.get());
    m_command5->setGeometry(twipRect(0, 2160, 1455, 375));
    m_command12 = new QPushButton(QStringLiteral("イベント戻す"), m_window.get());
    m_command12->setGeometry(twipRect(0, 2520, 1455, 375));
    m_timer = new QTimer(m_window.get());
    m_log = std::make_shared<FakeSoundOutput::Log>();
    m_sound = new SoundCommands(FakeSoundOutput::factory(m_log), m_window.get());
    m_repeat = false;
    m_scene = new EventScene(
        {m_view, m_command5, m_command12, m_timer}, m_sound, [this] { return m_repeat; }, m_window.get());
    m_scene->prepare();
}

void EventSceneTest::cleanup()
{
    m_window.reset();
    m_folder.reset();
}

void EventSceneTest::checkResting()
{
    QVERIFY(m_command5->isEnabled());
    QVERIFY(!m_command12->isEnabled());
    QVERIFY(!m_timer->isActive());
    QCOMPARE(m_view->address(),
             QStringLiteral("file://") + m_folder->path() + QStringLiteral("/画像データ/subako.html"));
    QCOMPARE(m_view->mode(), PageView::Mode::Page);
    QVERIFY(m_view->pageText().contains(QStringLiteral("新着メールはありません")));
    QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
}

void EventSceneTest::checkEvent(bool timerOn)
{
    QVERIFY(!m_command5->isEnabled());
    QVERIFY(m_command12->isEnabled());
    QCOMPARE(m_timer->isActive(), timerOn);
    QCOMPARE(m_view->address(), QStringLiteral("file://") + m_folder->path() + QStringLiteral("/画像データ/Bom.bmp"));
    QCOMPARE(m_view->mode(), PageView::Mode::Picture);
}

void EventSceneTest::buttonsFollowTheScene()
{
    checkResting();
    QCOMPARE(m_timer->interval(), 100);
    m_scene->start();
    checkEvent(true);
    QCOMPARE(m_log->events, (QStringList{QStringLiteral("load Kouka.wav"), QStringLiteral("play")}));
    m_scene->putBack();
    checkResting();
    m_scene->start();
    checkEvent(true);
}

void EventSceneTest::endOfSound_data()
{
    QTest::addColumn<bool>("repeat");
    QTest::newRow("once") << false;
    QTest::newRow("repeating") << true;
}

void EventSceneTest::endOfSound()
{
    QFETCH(bool, repeat);
    m_repeat = repeat;
    m_scene->start();
    QTest::qWait(250); // polling alone never ends the scene
    checkEvent(true);
    m_log->live.first()->end();
    if (repeat) {
        QTRY_COMPARE_WITH_TIMEOUT(m_log->events.count(QStringLiteral("play")), 2, 1000);
        QVERIFY(m_log->live.first()->playing());
        checkEvent(true);
        m_log->live.first()->end();
        QTRY_COMPARE_WITH_TIMEOUT(m_log->events.count(QStringLiteral("play")), 3, 1000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!m_timer->isActive(), 1000);
        QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
        QCOMPARE(m_log->events.count(QStringLiteral("play")), 1);
        checkEvent(false);
    }
}

void EventSceneTest::repeatSwitchIsReadWhenTheSoundEnds()
{
    m_repeat = true;
    m_scene->start();
    m_repeat = false; // the interval check was switched off during playback
    m_log->live.first()->end();
    QTRY_VERIFY_WITH_TIMEOUT(!m_timer->isActive(), 1000);
    QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
}

void EventSceneTest::secondStartWhilePlayingKeepsOneDevice()
{
    m_scene->start();
    m_view->navigate(QString()); // so that the picture is seen to be loaded again
    m_scene->start();
    QCOMPARE(m_sound->openCount(), 1);
    QCOMPARE(m_log->live.size(), 1);
    QCOMPARE(m_log->events.count(QStringLiteral("play")), 1);
    QVERIFY(m_log->live.first()->playing());
    checkEvent(true);
}

void EventSceneTest::startAfterTheDeviceClosedPlaysAgain()
{
    m_scene->start();
    m_log->live.first()->end();
    QTRY_VERIFY_WITH_TIMEOUT(!m_timer->isActive(), 1000);
    m_scene->start();
    checkEvent(true);
    QCOMPARE(m_log->events.count(QStringLiteral("load Kouka.wav")), 2);
    QVERIFY(m_log->live.first()->playing());
}

void EventSceneTest::missingSoundStillShowsThePicture()
{
    QVERIFY(QFile::remove(Paths::effectSound()));
    m_scene->start();
    checkEvent(true);
    QVERIFY(m_log->events.isEmpty());
    QTest::qWait(350); // no "stopped" ever comes: the timer keeps looking
    QVERIFY(m_timer->isActive());
    m_scene->putBack();
    checkResting();
}

void EventSceneTest::putBackDuringPlaybackStopsAtOnce()
{
    m_scene->start();
    m_scene->putBack();
    QCOMPARE(m_log->events.mid(0, 3),
             (QStringList{QStringLiteral("load Kouka.wav"), QStringLiteral("play"), QStringLiteral("stop")}));
    QCOMPARE(m_log->events.last(), QStringLiteral("unload"));
    QVERIFY(m_log->live.isEmpty());
    checkResting();
}

// Pictures of the scene area for a person to look at; written only when asked for.
void EventSceneTest::screenshots()
{
    const QString folder = qEnvironmentVariable("MOSSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("set MOSSVALE_SCREENSHOT_DIR to save the pictures");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(m_window->grab().save(folder + QStringLiteral("/scene-resting.png")));
    m_scene->start();
    QVERIFY(m_window->grab().save(folder + QStringLiteral("/scene-event.png")));
}

QTEST_MAIN(EventSceneTest)
#include "tst_eventscene.moc"
