// Times HeaderDecoder::decode on hostile and ordinary header blocks and prints the time of one
// decode (and the decoded Subject's length). The first row is the Subject that froze the mail check before decoding was
// made linear (47 s a check): 940 KB of encoded-word starts folded into SMTP-sized lines, ending in a real encoded
// word. Target: well under 100 ms a decode in a Release build.
//
// Usage: mossvale_bench_decode [--seconds S]  (time spent per row, default 1)
#include "maillib/HeaderDecoder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A Subject of about kilobytes KB: "=?a?B? " repeated in folded lines of 989 bytes or fewer.
QByteArray encodedWordStarts(int kilobytes)
{
    const QByteArray line = QByteArray("=?a?B? ").repeated(140);
    const int lines = kilobytes * 1024 / (line.size() + 3);
    return "From: a@example.jp\r\nSubject: " + line + QByteArray("\r\n " + line).repeated(lines - 1) +
           "\r\n =?UTF-8?B?44GC?=\r\nDate: Mon, 1 Jan 2024 09:00:00 +0900\r\n\r\n";
}

// Adjacent encoded words of two charsets by turns, one of them unknown: every word is decoded
// on its own (the decoder of a charset is looked up each time).
QByteArray alternatingCharsets(int kilobytes)
{
    const QByteArray line = QByteArray("=?utf-8?B?44GC?= =?x-unknown?Q?=82=A0?= ").repeated(24);
    const int lines = kilobytes * 1024 / (line.size() + 3);
    return "Subject: " + line + QByteArray("\r\n " + line).repeated(lines - 1) + "\r\n\r\n";
}

// About 1 KB of an ordinary Japanese mail header, as in the POP3 benchmark.
QByteArray ordinaryHeader()
{
    QByteArray header = "Return-Path: <sender@example.jp>\r\n";
    for (int hop = 0; hop < 6; ++hop)
        header += "Received: from relay" + QByteArray::number(hop) + ".example.jp (relay.example.jp [192.0.2." +
                  QByteArray::number(hop) +
                  "])\r\n\tby mx.example.jp with ESMTP id ABC; Mon, 1 Jan 2024 09:00:00 +0900\r\n";
    return header + "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>\r\n"
                    "Subject: =?ISO-2022-JP?B?GyRCTCQ+NUJ6OS05cBsoQg==?= 3\r\n"
                    "Date: Mon, 1 Jan 2024 09:00:00 +0900\r\nMessage-ID: <3@example.jp>\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n";
}

// Runs decode on block for about seconds (at least 3 times) and prints the mean time of one run.
template <typename Decode> void timeRow(const char* name, const QByteArray& block, double seconds, Decode decode)
{
    QElapsedTimer timer;
    timer.start();
    qint64 runs = 0;
    qsizetype chars = 0;
    do {
        chars += decode(block).size();
        ++runs;
    } while (runs < 3 || timer.nsecsElapsed() < qint64(seconds * 1e9));
    const double ms = double(timer.nsecsElapsed()) / 1e6 / double(runs);
    std::printf("  %-48s %7.1f KB %9.3f ms  (%lld runs, %lld chars)\n", name, double(block.size()) / 1024, ms,
                static_cast<long long>(runs), static_cast<long long>(chars / runs));
}

QString subjectOf(const QByteArray& block)
{
    return HeaderDecoder::decode(block).subject;
}

// The whole Subject value, past the block cap: the encoded-word search alone, on all of it.
QString wholeSubject(const QByteArray& block)
{
    return HeaderDecoder::decodeField(HeaderDecoder::fieldValue(block, "Subject"));
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S]\n", argv[0]);
            return 2;
        }
    }
    std::printf("Header decoding, ms a call (block cut at %lld KB, fields at %lld chars)\n",
                static_cast<long long>(HeaderDecoder::MaxHeaderBlockBytes / 1024),
                static_cast<long long>(HeaderDecoder::MaxFieldChars));
    const QByteArray starts940 = encodedWordStarts(940);
    const QByteArray starts300 = encodedWordStarts(300);
    timeRow("decode: Subject of encoded-word starts, 940 KB", starts940, seconds, subjectOf);
    timeRow("decode: Subject of encoded-word starts, 300 KB", starts300, seconds, subjectOf);
    timeRow("decode: Subject of alternating charsets, 940 KB", alternatingCharsets(940), seconds, subjectOf);
    timeRow("decode: ordinary header, 1 KB", ordinaryHeader(), seconds, subjectOf);
    timeRow("decodeField: whole 940 KB Subject, no block cap", starts940, seconds, wholeSubject);
    timeRow("decodeField: whole 300 KB Subject, no block cap", starts300, seconds, wholeSubject);
    return 0;
}
