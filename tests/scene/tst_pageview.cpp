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
    void initTestCase();
    void shows_data();
    void shows();
    void pageImagesComeFromTheLocalFolder();
    void networkAddressesAreNeverFetched();

private:
    QString write(const QString& name, const QByteArray& bytes);
    QTemporaryDir m_dir;
};

QString PageViewTest::write(const QString& name, const QByteArray& bytes)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
    return file.fileName();
}

void PageViewTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    write(QStringLiteral("utf8.html"), "<html><meta charset=\"utf-8\"><body>ヘルプ ①</body></html>");
    write(QStringLiteral("sjis.htm"), QByteArray("<html><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                                 "charset=Shift_JIS\"><body>") +
                                          QByteArray("\x83\x77\x83\x8b\x83\x76") + "</body></html>");
    write(QStringLiteral("notes.txt"), "plain");
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(m_dir.filePath(QStringLiteral("pic.bmp")), "BMP"));
    QVERIFY(image.save(m_dir.filePath(QStringLiteral("pic.png")), "PNG"));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.html")));
}

void PageViewTest::shows_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<PageView::Mode>("mode");
    QTest::addColumn<QString>("text");
    const QString base = QStringLiteral("file://") + m_dir.path() + u'/';
    QTest::newRow("utf-8 page") << base + "utf8.html" << PageView::Mode::Page << QStringLiteral("ヘルプ ①");
    QTest::newRow("shift_jis page") << base + "sjis.htm" << PageView::Mode::Page << QStringLiteral("ヘルプ");
    QTest::newRow("bmp") << base + "pic.bmp" << PageView::Mode::Picture << QString();
    QTest::newRow("png") << base + "pic.png" << PageView::Mode::Picture << QString();
    const QString notFound = QStringLiteral("ページが見つかりません。");
    QTest::newRow("missing") << base + "none.html" << PageView::Mode::NotFound << notFound;
    QTest::newRow("folder") << base + "folder.html" << PageView::Mode::NotFound << notFound;
    QTest::newRow("not a page") << base + "notes.txt" << PageView::Mode::NotFound << notFound;
    QTest::newRow("no scheme") << m_dir.path() + "/utf8.html" << PageView::Mode::NotFound << notFound;
    QTest::newRow("empty") << QString() << PageView::Mode::NotFound << notFound;
}

void PageViewTest::shows()
{
    QFETCH(QString, address);
    QFETCH(PageView::Mode, mode);
    QFETCH(QString, text);
    PageView view;
    view.navigate(QStringLiteral("file://") + m_dir.path() + QStringLiteral("/pic.png")); // something before
    view.navigate(address);
    QCOMPARE(view.address(), address);
    QCOMPARE(view.mode(), mode);
    QCOMPARE(view.pageText().trimmed(), text);
    const QLabel* picture = view.findChild<QLabel*>();
    QVERIFY(picture);
    QCOMPARE(picture->isVisibleTo(&view), mode == PageView::Mode::Picture);
    if (mode == PageView::Mode::Picture)
        QCOMPARE(picture->pixmap().size(), QSize(20, 10));
}

void PageViewTest::pageImagesComeFromTheLocalFolder()
{
    PageView view;
    const QString page = write(QStringLiteral("with image.html"), "<html><body><img src=\"pic.png\"></body></html>");
    view.navigate(QStringLiteral("file://") + page);
    auto* browser = view.findChild<QTextBrowser*>();
    QVERIFY(browser);
    const QVariant image = browser->document()->resource(
        QTextDocument::ImageResource, QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("pic.png"))));
    QVERIFY(image.isValid());
}

// A page that names a web address must not make the program connect anywhere.
void PageViewTest::networkAddressesAreNeverFetched()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QByteArray web = "http://127.0.0.1:" + QByteArray::number(server.serverPort());
    const QString page = write(QStringLiteral("remote.html"), "<html><body><img src=\"" + web + "/a.png\"><a href=\"" +
                                                                  web + "/b.html\">link</a></body></html>");
    PageView view;
    view.resize(300, 200);
    view.show();
    view.navigate(QStringLiteral("file://") + page);
    view.navigate(QString::fromLatin1(web + "/c.html"));
    QCOMPARE(view.mode(), PageView::Mode::NotFound);
    auto* browser = view.findChild<QTextBrowser*>();
    Q_EMIT browser->anchorClicked(QUrl(QString::fromLatin1(web + "/b.html")));
    QCOMPARE(view.address(), QString::fromLatin1(web + "/c.html"));
    QVERIFY(!server.waitForNewConnection(300));
}

QTEST_MAIN(PageViewTest)
#include "tst_pageview.moc"
