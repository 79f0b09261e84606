#include "maillib/HeaderDecoder.h"

#include <QTest>

// Real-world Japanese header fields, as Japanese mailers and spam send them, and hostile ones.
class TestHeaderDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesFields_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, QByteArray field, QString text) { QTest::newRow(name) << field << text; };
        const QByteArray junk = QByteArray("=?a?B? ").repeated(70);
        const QByteArray wordAtLimit = "=?UTF-8?Q?" + QByteArray(988, 'a') + "?=";
        const QByteArray wordPastLimit = "=?UTF-8?Q?a" + wordAtLimit.sliced(10);
        // clang-format off
        row("iso-2022-jp split inside the escape sequence", "=?iso-2022-jp?B?GyQ=?= =?ISO-2022-JP?B?QkZ8S1w4bCROJUYlOSVIGyhC?=", u"日本語のテスト"_qs);
        row("folded iso-2022-jp split inside a character", "=?ISO-2022-JP?B?GyRCJCpGQCRKPnBKcyQ=?=\r\n =?ISO-2022-JP?B?ciQqRk8kMSQ3JF4kORsoQg==?=", u"お得な情報をお届けします"_qs);
        row("circled digit and wave dash in iso-2022-jp", "=?ISO-2022-JP?B?GyRCLSEycTVEIUEbKEI=?=", u"①会議～"_qs);
        row("shift_jis aliases", "=?Shift_JIS?B?h0CJ74tjgWA=?= =?x-sjis?B?h0A=?= =?windows-31j?B?h0A=?=", u"①会議～①①"_qs);
        row("b, q, any case, joined", "=?utf-8?b?44GT44KT44Gr44Gh44Gv?= =?utf-8?q?=e4=b8=96?= =?UTF-8?Q?_=E7=95=8C_!?=", u"こんにちは世 界 !"_qs);
        row("unknown charsets holding utf-8, then cp932", "=?x-unknown?B?5pyq55+l44Gu5paH5a2X44Kz44O844OJ?= =?x-other?B?lqKSbYdA?=", u"未知の文字コード未知①"_qs);
        row("euc-jp", "=?EUC-JP?B?o8Wj1aPDpM6378y+?=", u"ＥＵＣの件名"_qs);
        row("raw shift_jis", "\x8c\x8f\x96\xbc\x81\x46\x82\xa8\x92\x6d\x82\xe7\x82\xb9\x87\x40\xb6\xc0\xb6\xc5", u"件名：お知らせ①ｶﾀｶﾅ"_qs);
        row("raw iso-2022-jp escapes", "Re: \x1b$B2q5D\x1b(B 2", u"Re: 会議 2"_qs);
        row("blanks kept around words, dropped between words of different charsets", "Re: =?UTF-8?B?44GT44KT44Gr44Gh44Gv?= =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= again", u"Re: こんにちは会議 again"_qs);
        row("malformed words left as they are", "=?UTF-8?X?abc?= =?a b?Q?c?= =?broken", u"=?UTF-8?X?abc?= =?a b?Q?c?= =?broken"_qs);
        row("nul kept, language suffix ignored", "=?UTF-8?Q?a=00b?= =?ISO-2022-JP*ja?B?GyRCMnE1RBsoQg==?=", QString::fromUtf16(u"a\u0000b会議", 5));
        row("quoted display name folded before the address", "\"=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?=\"\r\n <taro@example.jp>", u"\"山田太郎\" <taro@example.jp>"_qs);
        row("genuine word after 70 encoded-word starts", junk + "=?UTF-8?B?44GT44KT44Gr44Gh44Gv?=", QString::fromLatin1(junk) + u"こんにちは"_qs);
        row("word of 1,000 characters decoded, of 1,001 left as text", wordAtLimit + " " + wordPastLimit, QString(988, u'a') + u' ' + QString::fromLatin1(wordPastLimit));
        // clang-format on
    }

    void decodesFields()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, expected);
        // The same text in Subject and From; the From line ends in a bare line feed.
        const MessageHeaders headers =
            HeaderDecoder::decode("Received: x\r\nSubject: " + field + "\r\nFrom: " + field + "\nTo: a@example.jp\n\n");
        QCOMPARE(headers.subject + u'|' + headers.sender, expected + u'|' + expected);
    }

    // Only header fields count (the block ends at the first blank line), matched by whole name in
    // any letter case, the first of repeated ones; the raw block is kept, read as text, and bounded.
    void picksFieldsWithinBounds()
    {
        const QByteArray fields =
            "X-Subject: no\r\nDate: Tue, 2 Jan 2024\r\nSUBJECT: \x1b$B2q5D\x1b(B\r\nsubject: 2\r\n\r\nFrom: x\r\n";
        MessageHeaders headers = HeaderDecoder::decode(fields);
        QCOMPARE(headers.subject + u'|' + headers.sender + u'|' + headers.date, u"会議||Tue, 2 Jan 2024"_qs);
        QCOMPARE(headers.rawHeader, QString::fromLatin1(fields).replace("\x1b$B2q5D\x1b(B", u"会議"_qs));

        // The Subject that once froze every check (940 KB of folded encoded-word starts ending in
        // a real word), and the caps: the block is cut at 256 KB, not inside a UTF-8 character (a
        // field after that is missing); a field at 8 K code units, not inside a surrogate pair.
        const QByteArray line = QByteArray("=?a?B? ").repeated(140);
        const QByteArray block =
            "Subject: " + line + QByteArray("\r\n " + line).repeated(979) + "\r\n =?UTF-8?B?44GC?=";
        headers = HeaderDecoder::decode(block + "\r\n\r\n");
        QCOMPARE(headers.subject, QString::fromLatin1((line + " ").repeated(9).left(HeaderDecoder::MaxFieldChars)));
        QCOMPARE(headers.rawHeader, QString::fromLatin1(block.left(HeaderDecoder::MaxHeaderBlockBytes)));
        headers = HeaderDecoder::decode("Subject: " + QByteArray("あ").repeated(90000) + "\r\nFrom: late\r\n\r\n");
        QCOMPARE(headers.rawHeader, u"Subject: "_qs + u"あ"_qs.repeated((HeaderDecoder::MaxHeaderBlockBytes - 9) / 3));
        QCOMPARE(headers.subject + headers.sender, u"あ"_qs.repeated(HeaderDecoder::MaxFieldChars));
        QCOMPARE(HeaderDecoder::decodeField("a" + QByteArray("\xF0\x9F\x98\x80").repeated(5000)),
                 u"a"_qs + u"😀"_qs.repeated(4095));
    }
};

QTEST_GUILESS_MAIN(TestHeaderDecoder)
#include "tst_headerdecoder.moc"
