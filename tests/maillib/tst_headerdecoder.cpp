#include "maillib/HeaderDecoder.h"

#include <QTest>

// Real-world Japanese header fields, as Japanese mailers and spam send them.
class TestHeaderDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesFields_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("expected");

        QTest::newRow("plain ascii") << QByteArray("Hello world") << QStringLiteral("Hello world");
        QTest::newRow("iso-2022-jp B") << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXDhsJE4lRiU5JUgbKEI=?=")
                                       << QStringLiteral("日本語のテスト");
        QTest::newRow("iso-2022-jp split inside a character")
            << QByteArray("=?ISO-2022-JP?B?GyRCRnxL?= =?ISO-2022-JP?B?XDhsJE4lRiU5JUgbKEI=?=")
            << QStringLiteral("日本語のテスト");
        QTest::newRow("iso-2022-jp split inside the escape sequence")
            << QByteArray("=?iso-2022-jp?B?GyQ=?= =?ISO-2022-JP?B?QkZ8S1w4bCROJUYlOSVIGyhC?=")
            << QStringLiteral("日本語のテスト");
        QTest::newRow("folded iso-2022-jp split inside a character")
            << QByteArray("=?ISO-2022-JP?B?GyRCJCpGQCRKPnBKcyQ=?=\r\n =?ISO-2022-JP?B?ciQqRk8kMSQ3JF4kORsoQg==?=")
            << QStringLiteral("お得な情報をお届けします");
        QTest::newRow("circled digit and wave dash in iso-2022-jp")
            << QByteArray("=?ISO-2022-JP?B?GyRCLSEycTVEIUEbKEI=?=") << QStringLiteral("①会議～");
        QTest::newRow("circled digit and wave dash in shift_jis")
            << QByteArray("=?Shift_JIS?B?h0CJ74tjgWA=?=") << QStringLiteral("①会議～");
        QTest::newRow("sjis alias x-sjis") << QByteArray("=?x-sjis?B?h0CJ74tjgWA=?=") << QStringLiteral("①会議～");
        QTest::newRow("sjis alias windows-31j")
            << QByteArray("=?windows-31j?B?h0CJ74tjgWA=?=") << QStringLiteral("①会議～");
        QTest::newRow("lower-case b") << QByteArray("=?utf-8?b?44GT44KT44Gr44Gh44Gv?=") << QStringLiteral("こんにちは");
        QTest::newRow("q with underscores")
            << QByteArray("=?UTF-8?Q?Hello_=E4=B8=96=E7=95=8C_!?=") << QStringLiteral("Hello 世界 !");
        QTest::newRow("lower-case q and hex") << QByteArray("=?utf-8?q?=e4=b8=96?=") << QStringLiteral("世");
        QTest::newRow("unknown charset holding utf-8")
            << QByteArray("=?x-unknown?B?5pyq55+l44Gu5paH5a2X44Kz44O844OJ?=") << QStringLiteral("未知の文字コード");
        QTest::newRow("unknown charset holding cp932")
            << QByteArray("=?x-unknown?B?lqKSbYdA?=") << QStringLiteral("未知①");
        QTest::newRow("euc-jp") << QByteArray("=?EUC-JP?B?o8Wj1aPDpM6378y+?=") << QStringLiteral("ＥＵＣの件名");
        QTest::newRow("raw shift_jis") << QByteArray("\x8c\x8f\x96\xbc\x81\x46\x82\xa8\x92\x6d\x82\xe7\x82\xb9\x87\x40")
                                       << QStringLiteral("件名：お知らせ①");
        QTest::newRow("raw half-width katakana") << QByteArray("\xb6\xc0\xb6\xc5") << QStringLiteral("ｶﾀｶﾅ");
        QTest::newRow("raw utf-8") << QByteArray(
                                          "\xe6\x9c\xaa\xe8\xaa\xad\xe3\x81\xae\xe3\x83\xa1\xe3\x83\xbc\xe3\x83\xab")
                                   << QStringLiteral("未読のメール");
        QTest::newRow("raw iso-2022-jp escapes")
            << QByteArray("Re: \x1b$B2q5D\x1b(B 2") << QStringLiteral("Re: 会議 2");
        QTest::newRow("text around encoded words keeps its blanks")
            << QByteArray("Re: =?UTF-8?B?44GT44KT44Gr44Gh44Gv?= again") << QStringLiteral("Re: こんにちは again");
        QTest::newRow("blanks between words of different charsets dropped")
            << QByteArray("=?UTF-8?B?44GT44KT44Gr44Gh44Gv?= =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=")
            << QStringLiteral("こんにちは会議");
        QTest::newRow("folded plain text")
            << QByteArray("first part\r\n\tsecond part") << QStringLiteral("first part\tsecond part");
        QTest::newRow("malformed word left as it is")
            << QByteArray("=?UTF-8?X?abc?= =?broken") << QStringLiteral("=?UTF-8?X?abc?= =?broken");
        QTest::newRow("nul kept") << QByteArray("=?UTF-8?Q?a=00b?=") << QString::fromUtf16(u"a\u0000b", 3);
        QTest::newRow("language suffix ignored")
            << QByteArray("=?ISO-2022-JP*ja?B?GyRCMnE1RBsoQg==?=") << QStringLiteral("会議");
        QTest::newRow("address only") << QByteArray("taro@example.jp") << QStringLiteral("taro@example.jp");
        QTest::newRow("encoded display name") << QByteArray("=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>")
                                              << QStringLiteral("山田太郎 <taro@example.jp>");
        QTest::newRow("quoted encoded display name")
            << QByteArray("\"=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?=\" <taro@example.jp>")
            << QStringLiteral("\"山田太郎\" <taro@example.jp>");
        QTest::newRow("folded before the address")
            << QByteArray("=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?=\r\n <taro@example.jp>")
            << QStringLiteral("山田太郎 <taro@example.jp>");
        QTest::newRow("raw shift_jis display name")
            << QByteArray("\x8e\x52\x93\x63 <yamada@example.jp>") << QStringLiteral("山田 <yamada@example.jp>");
    }

    void decodesFields()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, expected);
        // The same text in Subject and From; the From line ends in a bare line feed.
        const QByteArray block = "Received: x\r\nSubject: " + field + "\r\nFrom: " + field + "\nTo: a@example.jp\n\n";
        const MessageHeaders headers = HeaderDecoder::decode(block);
        QCOMPARE(headers.subject, expected);
        QCOMPARE(headers.sender, expected);
    }

    // Only header fields count (the block ends at the first blank line), matched by whole name in
    // any letter case, the first of repeated ones; the raw block is kept, read as text.
    void picksFields()
    {
        MessageHeaders headers = HeaderDecoder::decode("To: a@example.jp\r\nX-Subject: no\r\n\r\nSubject: body\r\n");
        QVERIFY(headers.subject.isEmpty() && headers.sender.isEmpty() && headers.date.isEmpty());
        headers = HeaderDecoder::decode("SUBJECT: first\r\nsubject: second\r\nfrom: a@b\r\n\r\n");
        QCOMPARE(headers.subject + u'|' + headers.sender, QStringLiteral("first|a@b"));
        headers = HeaderDecoder::decode("Date: Tue, 2 Jan 2024 09:30:00 +0900\r\nSubject: \x1b$B2q5D\x1b(B\r\n\r\n");
        QCOMPARE(headers.date, QStringLiteral("Tue, 2 Jan 2024 09:30:00 +0900"));
        QCOMPARE(headers.rawHeader, QStringLiteral("Date: Tue, 2 Jan 2024 09:30:00 +0900\r\nSubject: 会議\r\n\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestHeaderDecoder)
#include "tst_headerdecoder.moc"
