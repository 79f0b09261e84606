#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "app/HELPForm.h"
#include "platform/FormSlot.h"
#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "platform/WindowPlacement.h"
#include "settings/ProgramFolder.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

namespace {
class FakeOutput;
struct SoundLog
{
    QList<FakeOutput*> live; // outputs of open devices, oldest first
    QStringList events;      // what they were asked, in order: "load <file>", "play", "stop", "unload"
    int count(const QString& event) const { return int(events.count(event)); }
};

// Stands in for the audio device; its sound ends when the test says, never by itself.
class FakeOutput : public SoundOutput
{
public:
    FakeOutput(SoundLog* log, const QString& path) : m_log(log)
    {
        log->live.append(this);
        note(QStringLiteral("load ") + path.section(u'/', -1), false);
    }
    ~FakeOutput() override { m_log->live.removeOne(note(QStringLiteral("unload"), false)); }
    void play() override { note(QStringLiteral("play"), true); }
    void stop() override { note(QStringLiteral("stop"), false); }
    void end()
    {
        if (std::exchange(m_playing, false))
            reportFinished();
    }

private:
    FakeOutput* note(const QString& event, bool playing)
    {
        m_log->events.append(event);
        m_playing = playing;
        return this;
    }
    SoundLog* m_log;
    bool m_playing = false;
};

// A command sent to the playing device "bgm": %1 stands for a playable sound with a blank in its
// name, %2 for a file holding wave. A failing command leaves the reply empty and changes nothing.
struct CommandRow
{
    QString command;
    int result;
    QStringList events = {}; // what the command asks of the devices
    QString mode = QStringLiteral("playing");
    QString reply = {};
    QByteArray wave = {};
};
struct SceneRow
{
    bool soundFile, repeatAtStart, repeatAtEnd;
};
struct PageRow
{
    QString address;
    PageView::Mode mode;
    QString text;
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}
} // namespace
Q_DECLARE_METATYPE(CommandRow)
Q_DECLARE_METATYPE(SceneRow)
Q_DECLARE_METATYPE(PageRow)

// The event scene, its sound commands, the page view and the help window, on real widgets; the
// audio device is a stand-in here (tst_sounddialup plays through a real one).
class SceneTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_window.reset(); // the devices of the previous test report to the old log
        m_log = SoundLog{};
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_folder->write(QStringLiteral("効果 音.wav"), m_folder->read(QStringLiteral("Sound/Kouka.wav")));
        m_window = std::make_unique<QWidget>();
        m_ui = {new PageView(m_window.get()), new QPushButton(m_window.get()), new QPushButton(m_window.get()),
                new QTimer(m_window.get())};
        m_sound = new SoundCommands([this](const QString& path) { return std::make_unique<FakeOutput>(&m_log, path); },
                                    m_window.get());
        m_scene = new EventScene(
            m_ui, m_sound, [this] { return m_repeat; }, m_window.get());
        m_scene->prepare();
    }

    void commands_data()
    {
        QTest::addColumn<CommandRow>("row");
        const auto fails = [](int result, std::initializer_list<const char*> commands) {
            for (const char* command : commands)
                QTest::newRow(*command ? command : "(empty)") << CommandRow{QString::fromUtf8(command), result};
        };
        fails(SoundCommands::UnknownCommand, {"", "   ", "pause bgm"});
        fails(SoundCommands::BadSyntax,
              {"open", "open \"%1\" alias", "open \"%1\" shareable bgm", "open \"%1 alias bgm", "open \"%1\" alias all",
               "play", "play bgm from", "play bgm from start", "play bgm to 0", "play bgm from -5", "status bgm",
               "stop bgm now", "close"});
        fails(SoundCommands::Unsupported, {"play bgm from 500", "status bgm volume"});
        fails(SoundCommands::NoSuchDevice, {"play other", "status other mode", "stop other", "close other"});
        fails(SoundCommands::AliasInUse, {"open \"%1\" alias BGM"});
        fails(SoundCommands::CannotOpenFile, {"open \"/nowhere/x.wav\" alias x"});
        QTest::newRow("play goes on") << CommandRow{"  Play   bGM ", 0};
        QTest::newRow("play from 0 restarts") << CommandRow{"play bgm from 0", 0, {"play"}};
        QTest::newRow("status") << CommandRow{"STATUS Bgm mode", 0, {}, "playing", "playing"};
        QTest::newRow("stop") << CommandRow{"stop bgm", 0, {"stop"}, "stopped"};
        QTest::newRow("close") << CommandRow{"close BGM", 0, {"stop", "unload"}, ""};
        QTest::newRow("close all") << CommandRow{"close all", 0, {"stop", "unload"}, ""};
        QTest::newRow("open another") << CommandRow{"OPEN \"%1\" type WaveAudio ALIAS Two", 0, {"load 効果 音.wav"}};
        QFile shipped(QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/Sound/Kouka.wav"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        const QByteArray wave = shipped.readAll();
        const auto file = [](const char* name, int result, const QByteArray& bytes) {
            const QStringList events = result ? QStringList() : QStringList{"load x.wav"};
            QTest::newRow(name) << CommandRow{"open \"%2\" alias x", result, events, "playing", {}, bytes};
        };
        file("pcm after a chunk of odd size", 0,
             wave.left(12) + QByteArray("LIST\x05\0\0\0abcde\0", 14) + wave.mid(12));
        file("mp3 format tag", SoundCommands::CannotOpenFile, QByteArray(wave).replace(20, 1, "\x55"));
        file("truncated fmt", SoundCommands::CannotOpenFile, wave.left(22));
        file("not wave", SoundCommands::CannotOpenFile, QByteArray("RIFF\x10\0\0\0AVI fmt ", 16));
        file("empty", SoundCommands::CannotOpenFile, "");
    }
    void commands()
    {
        QFETCH(CommandRow, row);
        m_folder->write(QStringLiteral("x.wav"), row.wave);
        QCOMPARE(send(QStringLiteral("open \"%1\" alias bgm")), int(SoundCommands::Success));
        QCOMPARE(send(QStringLiteral("play bgm")), int(SoundCommands::Success));
        const QStringList before = m_log.events;
        QString reply = QStringLiteral("left over");
        QCOMPARE(send(row.command, &reply), row.result);
        QCOMPARE(reply, row.reply);
        QCOMPARE(m_log.events, before + row.events);
        QCOMPARE(mode(), row.mode);
    }

    void eventScene_data()
    {
        QTest::addColumn<SceneRow>("row");
        QTest::newRow("played once") << SceneRow{true, false, false};
        QTest::newRow("repeating") << SceneRow{true, true, true};
        QTest::newRow("repeat switched off while playing") << SceneRow{true, true, false};
        QTest::newRow("no sound file: the picture all the same") << SceneRow{false, false, false};
    }
    void eventScene()
    {
        QFETCH(SceneRow, row);
        if (!row.soundFile)
            QVERIFY(QFile::remove(Paths::effectSound()));
        checkScene(false, false);
        m_repeat = row.repeatAtStart;
        m_scene->start();
        m_ui.WebBrowser1->navigate(QString()); // so that the picture is seen to be shown again
        m_scene->start();                      // while playing: the open device plays on, no second one
        QCOMPARE(m_log.live.size(), row.soundFile ? 1 : 0);
        QCOMPARE(m_log.count(QStringLiteral("play")), row.soundFile ? 1 : 0);
        QTest::qWait(250); // Timer1 polls: a sound that has not ended, or never started, keeps the scene
        checkScene(true, true);
        m_repeat = row.repeatAtEnd;
        if (row.soundFile)
            m_log.live.first()->end();
        if (row.repeatAtEnd) {
            QTRY_COMPARE_WITH_TIMEOUT(m_log.count(QStringLiteral("play")), 2, 1000);
            checkScene(true, true);
        } else if (row.soundFile) { // the device is closed and the timer off, while the picture stays
            QTRY_VERIFY_WITH_TIMEOUT(!m_ui.Timer1->isActive(), 1000);
            checkScene(true, false);
        }
        m_scene->putBack(); // also during playback: stopped and released at once
        checkScene(false, false);
        QVERIFY(m_log.live.isEmpty());
        if (row.repeatAtEnd)
            QCOMPARE(m_log.events.mid(m_log.events.size() - 2), (QStringList{"stop", "unload"}));
        m_scene->start(); // a later start opens the sound afresh
        QCOMPARE(m_log.count(QStringLiteral("load Kouka.wav")), row.soundFile ? 2 : 0);
    }

    // Local pages and pictures only: neither a web address nor a page naming one connects anywhere.
    void pageView_data()
    {
        QVERIFY(m_web.isListening() || m_web.listen(QHostAddress::LocalHost));
        const QString web = QStringLiteral("http://127.0.0.1:%1/").arg(m_web.serverPort());
        const QString dir = m_pages.path() + u'/';
        QVERIFY(QFile::copy(QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/画像データ/Bom.bmp"), dir + "pic.bmp"));
        writeFile(dir + "utf8.html", "<html><meta charset=\"utf-8\"><body>ヘルプ ①<img src=\"pic.bmp\"><img src=\"" +
                                         web.toUtf8() + "a.png\"><a href=\"" + web.toUtf8() +
                                         "b.html\"></a></body></html>");
        writeFile(dir + "sjis.htm", "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                                    "<body>\x83\x77\x83\x8b\x83\x76</body></html>");
        QTest::addColumn<PageRow>("row");
        const QString notFound = QStringLiteral("ページが見つかりません。");
        QTest::newRow("utf-8 page") << PageRow{"file://" + dir + "utf8.html", PageView::Mode::Page, "ヘルプ ①"};
        QTest::newRow("shift_jis page") << PageRow{"file://" + dir + "sjis.htm", PageView::Mode::Page, "ヘルプ"};
        QTest::newRow("bmp") << PageRow{"file://" + dir + "pic.bmp", PageView::Mode::Picture, {}};
        QTest::newRow("missing") << PageRow{"file://" + dir + "none.html", PageView::Mode::NotFound, notFound};
        QTest::newRow("folder") << PageRow{"file://" + m_pages.path(), PageView::Mode::NotFound, notFound};
        QTest::newRow("no scheme") << PageRow{dir + "utf8.html", PageView::Mode::NotFound, notFound};
        QTest::newRow("web address") << PageRow{web + "c.html", PageView::Mode::NotFound, notFound};
    }
    void pageView()
    {
        QFETCH(PageRow, row);
        PageView view;
        view.show();
        view.navigate(QStringLiteral("file://") + m_pages.filePath(QStringLiteral("pic.bmp"))); // shown before
        view.navigate(row.address);
        // A click on a link to the web stays where it is.
        Q_EMIT view.findChild<QTextBrowser*>()->anchorClicked(QUrl("http://127.0.0.1:1/b.html"));
        QCOMPARE(view.mode(), row.mode);
        QCOMPARE(view.pageText().remove(QChar::ObjectReplacementCharacter).trimmed(), row.text);
        QCOMPARE(view.findChild<QLabel*>()->isVisibleTo(&view), row.mode == PageView::Mode::Picture);
        // A page's pictures come from its own folder.
        const QUrl picture = QUrl::fromLocalFile(m_pages.filePath(QStringLiteral("pic.bmp")));
        const QTextDocument* page = view.findChild<QTextBrowser*>()->document();
        QVERIFY(!row.text.contains(u'①') || page->resource(QTextDocument::ImageResource, picture).isValid());
        QVERIFY(!QTest::qWaitFor([this] { return m_web.hasPendingConnections(); }, 100));
    }

    // The help window: one on top while open, loaded afresh after a close; its page follows its size.
    void helpWindow()
    {
        QCOMPARE(HELPForm::browserTwips({60, 300}), QSize(0, 0)); // never negative
        m_folder->write(QStringLiteral("HTML/1.htm"), "<html><meta charset=\"utf-8\"><body>使い方</body></html>");
        FormSlot<HELPForm> slot;
        HELPForm* first = slot.show();
        QVERIFY(QTest::qWaitForWindowExposed(first));
        QCOMPARE(first->windowTitle(), QStringLiteral("HELP"));
        QVERIFY(isTopmost(first));
        // 540 x 400 pixels are 8100 x 6000 twips: 8000 x 5600 twips remain, 533 x 373 pixels.
        first->resize(QSize(540, 400) - (first->frameGeometry().size() - first->size()));
        QTRY_COMPARE(first->WebBrowser1->size(), QSize(533, 373));
        m_folder->write(QStringLiteral("HTML/1.htm"), "<html><body>second edition</body></html>");
        QCOMPARE(slot.show(), first); // not loaded again while open
        QVERIFY(first->WebBrowser1->pageText().contains(QStringLiteral("使い方")));
        QPointer<HELPForm> closed = first;
        QVERIFY(first->close());
        QVERIFY(slot.show()->WebBrowser1->pageText().contains(QStringLiteral("second edition")));
        QTRY_VERIFY(closed.isNull());
    }

private:
    void checkScene(bool event, bool timerOn)
    {
        QCOMPARE(m_ui.Command5->isEnabled(), !event);
        QCOMPARE(m_ui.Command12->isEnabled(), event);
        QCOMPARE(m_ui.Timer1->isActive(), timerOn);
        QCOMPARE(m_ui.WebBrowser1->address(), Paths::fileAddress(event ? Paths::eventPicture() : Paths::restingPage()));
        QCOMPARE(m_ui.WebBrowser1->mode(), event ? PageView::Mode::Picture : PageView::Mode::Page);
        if (!timerOn) // the device is closed whenever nothing watches it
            QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
    }
    int send(const QString& command, QString* reply = nullptr)
    {
        return m_sound->send(QString(command)
                                 .replace(QStringLiteral("%1"), m_folder->file(QStringLiteral("効果 音.wav")))
                                 .replace(QStringLiteral("%2"), m_folder->file(QStringLiteral("x.wav"))),
                             reply);
    }
    QString mode()
    {
        QString reply;
        return send(QStringLiteral("status bgm mode"), &reply) == SoundCommands::Success ? reply : QString();
    }

    SoundLog m_log; // outlives the window, whose devices report to it when they go
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<QWidget> m_window;
    EventScene::Controls m_ui{};
    SoundCommands* m_sound = nullptr;
    EventScene* m_scene = nullptr;
    bool m_repeat = false;
    QTemporaryDir m_pages;
    QTcpServer m_web; // the web, as far as a page could reach it
};

QTEST_MAIN(SceneTest)
#include "tst_scene.moc"
