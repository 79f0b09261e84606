#include "maillib/Pop3ReplyParser.h"

#include <QTest>

namespace {

// Feeds stream in chunks of the given size, announcing one reply per letter of kinds ('S' single
// line, 'M' multi-line), and returns the replies written as "+OK text|body" or "-ERR text".
QList<QByteArray> parseInChunks(const QByteArray& stream, const QByteArray& kinds, int chunk, Pop3ReplyParser* parser)
{
    for (char kind : kinds)
        parser->expect(kind == 'M');
    QList<QByteArray> replies;
    Pop3Reply reply;
    for (qsizetype i = 0; i < stream.size(); i += chunk) {
        parser->feed(stream.mid(i, chunk));
        while (parser->takeReply(&reply))
            replies << (reply.ok ? "+OK " : "-ERR ") + reply.statusText +
                           (reply.body.isNull() ? "" : "|" + reply.body) + (reply.truncated ? " (cut)" : "");
    }
    return replies;
}

} // namespace

class TestPop3ReplyParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesAnyChunking_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("kinds");
        QTest::addColumn<QByteArray>("replies"); // joined by '~'
        QTest::addColumn<Pop3ReplyParser::Error>("error");

        using B = QByteArray;
        using enum Pop3ReplyParser::Error;
        QTest::newRow("status line") << B("+OK Dovecot ready. <1.2@host>\r\n") << B("S")
                                     << B("+OK Dovecot ready. <1.2@host>") << None;
        QTest::newRow("status without text") << B("+OK\r\n-ERR\r\n") << B("SS") << B("+OK ~-ERR ") << None;
        QTest::newRow("multi-line body") << B("+OK 2 0\r\nSubject: a\r\nFrom: b\r\n\r\n.\r\n") << B("M")
                                         << B("+OK 2 0|Subject: a\r\nFrom: b\r\n\r\n") << None;
        QTest::newRow("dot-stuffed lines")
            << B("+OK\r\n..hidden\r\n..\r\n...\r\n.\r\n") << B("M") << B("+OK |.hidden\r\n.\r\n..\r\n") << None;
        QTest::newRow("empty body") << B("+OK\r\n.\r\n") << B("M") << B("+OK |") << None;
        QTest::newRow("error to a multi-line request has no body")
            << B("-ERR no such message\r\n+OK\r\nX: 1\r\n.\r\n") << B("MM") << B("-ERR no such message~+OK |X: 1\r\n")
            << None;
        QTest::newRow("bare line feeds") << B("+OK\nA: 1\n.\n+OK done\n") << B("MS") << B("+OK |A: 1\r\n~+OK done")
                                         << None;
        QTest::newRow("pipelined replies")
            << B("+OK 1\r\n+OK\r\nS: 1\r\n.\r\n-ERR gone\r\n+OK\r\nS: 3\r\n.\r\n+OK bye\r\n") << B("SMMMS")
            << B("+OK 1~+OK |S: 1\r\n~-ERR gone~+OK |S: 3\r\n~+OK bye") << None;
        QTest::newRow("lower-case indicators")
            << B("+ok fine\r\n-err bad\r\n") << B("SS") << B("+OK fine~-ERR bad") << None;
        QTest::newRow("8-bit and nul bytes kept") << B("+OK\r\nSubject: \x82\xa0\x00x\r\n.\r\n", 23) << B("M")
                                                  << B("+OK |Subject: \x82\xa0\x00x\r\n", 20) << None;
        // The parser under test takes status lines of at most 100 bytes.
        QTest::newRow("garbage status") << B("HTTP/1.1 200 OK\r\n") << B("S") << B() << BadStatusLine;
        QTest::newRow("indicator glued to text") << B("+OKAY\r\n") << B("S") << B() << BadStatusLine;
        QTest::newRow("endless status line") << B(200, '+') << B("S") << B() << StatusLineTooLong;
        QTest::newRow("long status line with its end") << "+OK " + B(200, 'x') + "\r\n"
                                                       << B("S") << B() << StatusLineTooLong;
        QTest::newRow("unasked flood") << B(200, 'x') << B() << B() << UnexpectedData;
    }

    // Any chunking gives the same replies (a reply is never complete before its last byte) or
    // the same error.
    void parsesAnyChunking()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, kinds);
        QFETCH(QByteArray, replies);
        QFETCH(Pop3ReplyParser::Error, error);
        for (int chunk : {1, 2, 3, 5, 7, 64, int(stream.size())}) {
            Pop3ReplyParser parser(100, 1000);
            QCOMPARE(parseInChunks(stream, kinds, chunk, &parser).join('~'), replies);
            QCOMPARE(parser.error(), error);
            QCOMPARE(parser.pendingCount(), error == Pop3ReplyParser::Error::None ? 0 : kinds.size());
        }
    }

    // Over-long body lines and bodies are cut, and the replies after them still line up.
    void cutsOverlongBodiesButStaysInStep()
    {
        const QByteArray longLine = "X-Long: " + QByteArray(500, 'a') + "\r\n";
        QByteArray stream = "+OK\r\n" + longLine + "Subject: kept\r\n.\r\n+OK\r\n";
        for (int i = 0; i < 100; ++i)
            stream += "X-Filler: " + QByteArray::number(i) + "\r\n";
        stream += ".\r\n+OK bye\r\n";
        for (int chunk : {1, 13, int(stream.size())}) {
            Pop3ReplyParser parser(100, 300);
            const QList<QByteArray> replies = parseInChunks(stream, "MMS", chunk, &parser);
            QCOMPARE(parser.error(), Pop3ReplyParser::Error::None);
            QCOMPARE(replies.size(), 3);
            QCOMPARE(replies.at(0), "+OK |" + longLine.left(100) + "\r\nSubject: kept\r\n (cut)");
            QVERIFY(replies.at(1).endsWith(" (cut)") && replies.at(1).size() <= 300 + 20);
            QCOMPARE(replies.at(2), QByteArray("+OK bye"));
        }
    }

    // Bytes that arrive before their request is announced wait for it.
    void answersOnlyWhatWasExpected()
    {
        Pop3ReplyParser parser;
        parser.feed("+OK early\r\n");
        Pop3Reply reply;
        QVERIFY(!parser.takeReply(&reply));
        parser.expect(false);
        QVERIFY(parser.takeReply(&reply) && reply.statusText == "early");
    }
};

QTEST_GUILESS_MAIN(TestPop3ReplyParser)
#include "tst_pop3replyparser.moc"
