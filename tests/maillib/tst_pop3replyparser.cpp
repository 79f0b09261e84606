#include "maillib/Pop3ReplyParser.h"

#include <QTest>

Q_DECLARE_METATYPE(QList<bool>)

namespace {

// A reply written as "+OK text|body" or "-ERR text".
QByteArray describe(const Pop3Reply& reply)
{
    return (reply.ok ? "+OK " : "-ERR ") + reply.statusText + (reply.body.isNull() ? "" : "|" + reply.body) +
           (reply.truncated ? " (cut)" : "");
}

QList<QByteArray> parseInChunks(const QByteArray& stream, const QList<bool>& expected, int chunk,
                                Pop3ReplyParser* parser)
{
    for (bool multiLine : expected)
        parser->expect(multiLine);
    QList<QByteArray> replies;
    Pop3Reply reply;
    for (qsizetype i = 0; i < stream.size(); i += chunk) {
        parser->feed(stream.mid(i, chunk));
        while (parser->takeReply(&reply))
            replies.append(describe(reply));
    }
    return replies;
}

} // namespace

class TestPop3ReplyParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesAnyChunking_data();
    void parsesAnyChunking();
    void rejectsBrokenStreams_data();
    void rejectsBrokenStreams();
    void cutsOverlongBodiesButStaysInStep();
    void waitsForTheRestOfACutReply();
    void answersOnlyWhatWasExpected();
};

void TestPop3ReplyParser::parsesAnyChunking_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<bool>>("multiLine");
    QTest::addColumn<QList<QByteArray>>("replies");

    QTest::newRow("status line") << QByteArray("+OK Dovecot ready. <1.2@host>\r\n") << QList<bool>{false}
                                 << QList<QByteArray>{"+OK Dovecot ready. <1.2@host>"};
    QTest::newRow("status without text") << QByteArray("+OK\r\n-ERR\r\n") << QList<bool>{false, false}
                                         << QList<QByteArray>{"+OK ", "-ERR "};
    QTest::newRow("multi-line body") << QByteArray("+OK 2 0\r\nSubject: a\r\nFrom: b\r\n\r\n.\r\n") << QList<bool>{true}
                                     << QList<QByteArray>{"+OK 2 0|Subject: a\r\nFrom: b\r\n\r\n"};
    QTest::newRow("dot-stuffed lines") << QByteArray("+OK\r\n..hidden\r\n..\r\n...\r\n.\r\n") << QList<bool>{true}
                                       << QList<QByteArray>{"+OK |.hidden\r\n.\r\n..\r\n"};
    QTest::newRow("empty body") << QByteArray("+OK\r\n.\r\n") << QList<bool>{true} << QList<QByteArray>{"+OK |"};
    QTest::newRow("error to a multi-line request has no body")
        << QByteArray("-ERR no such message\r\n+OK\r\nX: 1\r\n.\r\n") << QList<bool>{true, true}
        << QList<QByteArray>{"-ERR no such message", "+OK |X: 1\r\n"};
    QTest::newRow("bare line feeds") << QByteArray("+OK\nA: 1\n.\n+OK done\n") << QList<bool>{true, false}
                                     << QList<QByteArray>{"+OK |A: 1\r\n", "+OK done"};
    QTest::newRow("pipelined replies")
        << QByteArray("+OK 1\r\n+OK\r\nS: 1\r\n.\r\n-ERR gone\r\n+OK\r\nS: 3\r\n.\r\n+OK bye\r\n")
        << QList<bool>{false, true, true, true, false}
        << QList<QByteArray>{"+OK 1", "+OK |S: 1\r\n", "-ERR gone", "+OK |S: 3\r\n", "+OK bye"};
    QTest::newRow("lower-case indicators") << QByteArray("+ok fine\r\n-err bad\r\n") << QList<bool>{false, false}
                                           << QList<QByteArray>{"+OK fine", "-ERR bad"};
    QTest::newRow("8-bit and nul bytes kept")
        << QByteArray("+OK\r\nSubject: \x82\xa0\x00x\r\n.\r\n", 23) << QList<bool>{true}
        << QList<QByteArray>{QByteArray("+OK |Subject: \x82\xa0\x00x\r\n", 20)};
}

void TestPop3ReplyParser::parsesAnyChunking()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<bool>, multiLine);
    QFETCH(QList<QByteArray>, replies);
    for (int chunk : {1, 2, 3, 5, 7, 64, int(stream.size())}) {
        Pop3ReplyParser parser;
        QCOMPARE(parseInChunks(stream, multiLine, chunk, &parser), replies);
        QCOMPARE(parser.error(), Pop3ReplyParser::Error::None);
        QCOMPARE(parser.pendingCount(), 0);
    }
}

void TestPop3ReplyParser::rejectsBrokenStreams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("expectReply");
    QTest::addColumn<Pop3ReplyParser::Error>("error");

    QTest::newRow("garbage status") << QByteArray("HTTP/1.1 200 OK\r\n") << true
                                    << Pop3ReplyParser::Error::BadStatusLine;
    QTest::newRow("indicator glued to text")
        << QByteArray("+OKAY\r\n") << true << Pop3ReplyParser::Error::BadStatusLine;
    QTest::newRow("endless status line") << QByteArray(200, '+') << true << Pop3ReplyParser::Error::StatusLineTooLong;
    QTest::newRow("long status line with its end") << "+OK " + QByteArray(200, 'x') + "\r\n"
                                                   << true << Pop3ReplyParser::Error::StatusLineTooLong;
    QTest::newRow("unasked flood") << QByteArray(200, 'x') << false << Pop3ReplyParser::Error::UnexpectedData;
}

void TestPop3ReplyParser::rejectsBrokenStreams()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, expectReply);
    QFETCH(Pop3ReplyParser::Error, error);
    Pop3ReplyParser parser(100, 1000);
    const QList<QByteArray> replies =
        parseInChunks(stream, expectReply ? QList<bool>{false} : QList<bool>{}, 3, &parser);
    QVERIFY(replies.isEmpty());
    QCOMPARE(parser.error(), error);
}

void TestPop3ReplyParser::cutsOverlongBodiesButStaysInStep()
{
    const QByteArray longLine = "X-Long: " + QByteArray(500, 'a') + "\r\n";
    QByteArray stream = "+OK\r\n" + longLine + "Subject: kept\r\n.\r\n+OK\r\n";
    for (int i = 0; i < 100; ++i)
        stream += "X-Filler: " + QByteArray::number(i) + "\r\n";
    stream += ".\r\n+OK bye\r\n";
    for (int chunk : {1, 13, int(stream.size())}) {
        Pop3ReplyParser parser(100, 300);
        const QList<QByteArray> replies = parseInChunks(stream, {true, true, false}, chunk, &parser);
        QCOMPARE(parser.error(), Pop3ReplyParser::Error::None);
        QCOMPARE(replies.size(), 3);
        QCOMPARE(replies.at(0), "+OK |" + longLine.left(100) + "\r\nSubject: kept\r\n (cut)");
        QVERIFY(replies.at(1).endsWith(" (cut)"));
        QVERIFY(replies.at(1).size() <= 300 + 20);
        QCOMPARE(replies.at(2), QByteArray("+OK bye"));
    }
}

void TestPop3ReplyParser::waitsForTheRestOfACutReply()
{
    Pop3ReplyParser parser;
    parser.expect(true);
    parser.feed("+OK\r\nSubject: half\r\n.");
    Pop3Reply reply;
    QVERIFY(!parser.takeReply(&reply));
    QCOMPARE(parser.pendingCount(), 1);
    parser.feed("\r\n");
    QVERIFY(parser.takeReply(&reply));
    QCOMPARE(reply.body, QByteArray("Subject: half\r\n"));
}

void TestPop3ReplyParser::answersOnlyWhatWasExpected()
{
    Pop3ReplyParser parser;
    parser.feed("+OK early\r\n");
    Pop3Reply reply;
    QVERIFY(!parser.takeReply(&reply));
    parser.expect(false);
    QVERIFY(parser.takeReply(&reply));
    QCOMPARE(reply.statusText, QByteArray("early"));
}

QTEST_GUILESS_MAIN(TestPop3ReplyParser)
#include "tst_pop3replyparser.moc"
