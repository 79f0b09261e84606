#include "SceneFixtures.h"
#include "platform/PageView.h"

#include <QImage>
#include <QLabel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

// The page view reads pages and pictures from local files only.
class PageViewTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void shows_data()
    {
        writeFixture(m_dir.filePath(QStringLiteral("utf8.html")),
                     "<html><meta charset=\"utf-8\"><body>ヘルプ ①<img src=\"pic.bmp\"></body></html>");
        writeFixture(m_dir.filePath(QStringLiteral("sjis.htm")),
                     "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"><body>"
                     "\x83\x77\x83\x8b\x83\x76</body></html>");
        QVERIFY(QImage(20, 10, QImage::Format_RGB32).save(m_dir.filePath(QStringLiteral("pic.bmp")), "BMP"));
        QDir(m_dir.path()).mkdir(QStringLiteral("folder.html"));

        QTest::addColumn<QString>("address");
        QTest::addColumn<PageView::Mode>("mode");
        QTest::addColumn<QString>("text");
        const QString notFound = QStringLiteral("ページが見つかりません。");
        QTest::newRow("utf-8 page") << file("utf8.html") << PageView::Mode::Page << QStringLiteral("ヘルプ ①");
        QTest::newRow("shift_jis page") << file("sjis.htm") << PageView::Mode::Page << QStringLiteral("ヘルプ");
        QTest::newRow("bmp") << file("pic.bmp") << PageView::Mode::Picture << QString();
        QTest::newRow("missing") << file("none.html") << PageView::Mode::NotFound << notFound;
        QTest::newRow("folder") << file("folder.html") << PageView::Mode::NotFound << notFound;
        QTest::newRow("no scheme") << m_dir.filePath("utf8.html") << PageView::Mode::NotFound << notFound;
    }
    void shows()
    {
        QFETCH(QString, address);
        QFETCH(PageView::Mode, mode);
        QFETCH(QString, text);
        PageView view;
        view.navigate(file(QStringLiteral("pic.bmp"))); // something shown before
        view.navigate(address);
        QCOMPARE(view.mode(), mode);
        QCOMPARE(view.pageText().remove(QChar::ObjectReplacementCharacter).trimmed(), text);
        QCOMPARE(view.findChild<QLabel*>()->isVisibleTo(&view), mode == PageView::Mode::Picture);
        // A page's pictures come from its own folder.
        const QUrl picture = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("pic.bmp")));
        const QTextDocument* page = view.findChild<QTextBrowser*>()->document();
        QVERIFY(!text.contains(u'①') || page->resource(QTextDocument::ImageResource, picture).isValid());
    }
    // Neither a page naming a web address nor a web address itself may make the program connect anywhere.
    void networkAddressesAreNeverFetched()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString web = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
        writeFixture(m_dir.filePath(QStringLiteral("remote.html")),
                     QStringLiteral("<img src=\"%1/a.png\"><a href=\"%1/b.html\">link</a>").arg(web).toUtf8());
        PageView view;
        view.show();
        view.navigate(file(QStringLiteral("remote.html")));
        Q_EMIT view.findChild<QTextBrowser*>()->anchorClicked(QUrl(web + QStringLiteral("/b.html")));
        view.navigate(web + QStringLiteral("/c.html"));
        QCOMPARE(view.mode(), PageView::Mode::NotFound);
        QVERIFY(!server.waitForNewConnection(300));
    }

private:
    QString file(const QString& name) const { return QStringLiteral("file://") + m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

QTEST_MAIN(PageViewTest)
#include "tst_pageview.moc"
