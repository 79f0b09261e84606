#include "maillib/Pop3ReplyParser.h"

#include <QTest>

using B = QByteArray;

namespace {

struct Stream
{
    B bytes;
    B kinds;   // one letter per reply announced: 'S' single line, 'M' multi-line
    B replies; // "+OK text|body" or "-ERR text", " (cut)" when truncated, joined by '~'
    Pop3ReplyParser::Error error = Pop3ReplyParser::Error::None;
};

} // namespace

// The parser takes status and body lines of at most 100 bytes and bodies of at most 1,000 here.
class TestPop3ReplyParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesAnyChunking_data()
    {
        QTest::addColumn<Stream>("row");
        using enum Pop3ReplyParser::Error;
        const B longLine = "X-Long: " + B(200, 'a') + "\r\n", filler = "X-Filler: 1\r\n";
        // clang-format off
        QTest::newRow("pipelined replies") << Stream{"+OK 1\r\n+OK\r\nS: 1\r\n.\r\n-ERR\r\n+OK\r\n.\r\n+OK bye\r\n", "SMMMS", "+OK 1~+OK |S: 1\r\n~-ERR ~+OK |~+OK bye"};
        QTest::newRow("dot-stuffed lines") << Stream{"+OK\r\n..hidden\r\n..\r\n...\r\n.\r\n", "M", "+OK |.hidden\r\n.\r\n..\r\n"};
        QTest::newRow("bare line feeds") << Stream{"+OK\nA: 1\n.\n+OK done\n", "MS", "+OK |A: 1\r\n~+OK done"};
        QTest::newRow("8-bit and nul bytes kept") << Stream{B("+OK\r\nSubject: \x82\xa0\x00x\r\n.\r\n", 23), "M", B("+OK |Subject: \x82\xa0\x00x\r\n", 20)};
        QTest::newRow("over-long body line cut") << Stream{"+OK\r\n" + longLine + "Subject: kept\r\n.\r\n+OK bye\r\n", "MS", "+OK |" + longLine.left(100) + "\r\nSubject: kept\r\n (cut)~+OK bye"};
        QTest::newRow("over-long body cut") << Stream{"+OK\r\n" + filler.repeated(100) + ".\r\n+OK bye\r\n", "MS", "+OK |" + filler.repeated(76) + " (cut)~+OK bye"};
        QTest::newRow("indicator glued to text") << Stream{"+OKAY\r\n", "S", {}, BadStatusLine};
        QTest::newRow("long status line with its end") << Stream{"+OK " + B(200, 'x') + "\r\n", "S", {}, StatusLineTooLong};
        QTest::newRow("unasked flood") << Stream{B(200, 'x'), {}, {}, UnexpectedData};
        // clang-format on
    }

    // Any chunking, down to a byte at a time, gives the same replies (a reply is never complete
    // before its last byte) or the same error; cut lines and bodies leave the stream in step.
    void parsesAnyChunking()
    {
        QFETCH(Stream, row);
        for (int chunk : {1, 2, 3, 5, 7, 64, int(row.bytes.size())}) {
            Pop3ReplyParser parser(100, 1000);
            for (char kind : row.kinds)
                parser.expect(kind == 'M');
            QList<B> replies;
            Pop3Reply reply;
            for (qsizetype i = 0; i < row.bytes.size(); i += chunk) {
                parser.feed(row.bytes.mid(i, chunk));
                while (parser.takeReply(&reply))
                    replies << (reply.ok ? "+OK " : "-ERR ") + reply.statusText +
                                   (reply.body.isNull() ? "" : "|" + reply.body) + (reply.truncated ? " (cut)" : "");
            }
            QCOMPARE(replies.join('~'), row.replies);
            QCOMPARE(parser.error(), row.error);
            QCOMPARE(parser.pendingCount(), row.error == Pop3ReplyParser::Error::None ? 0 : row.kinds.size());
        }
    }
};

QTEST_GUILESS_MAIN(TestPop3ReplyParser)
#include "tst_pop3replyparser.moc"
