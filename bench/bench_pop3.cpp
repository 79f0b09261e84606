// Times a whole mail check (connect, login, headers of every message, deletion of the spam,
// QUIT) against a real Dovecot behind a proxy that delays each direction by 25 ms, with
// pipelining and one request at a time, and prints both times and their ratio.
//
// Usage: mossvale_bench [--messages N,...] [--unpipelined-messages M] [--full]
// One request at a time costs a round trip per message (about a minute for 1,000), so by
// default that run scans only M messages (100) and its time for N is extrapolated; --full
// scans all N.
#include "DelayProxy.h"
#include "maillib/Pop3Session.h"

#include "tests/support/DovecotServer.h"
#include <QEventLoop>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>

namespace {

const QString Password = QStringLiteral("bench");
const QString Keyword = QStringLiteral("未承諾広告");

// About 1 KB of header; every tenth message is spam by its subject.
QByteArray message(int number)
{
    QByteArray header = "Return-Path: <sender" + QByteArray::number(number) + "@example.jp>\r\n";
    for (int hop = 0; hop < 6; ++hop)
        header += "Received: from relay" + QByteArray::number(hop) + ".example.jp (relay.example.jp [192.0.2." +
                  QByteArray::number(hop) + "])\r\n\tby mx.example.jp with ESMTP id ABC" + QByteArray::number(number) +
                  "; Mon, 1 Jan 2024 09:00:00 +0900\r\n";
    header += "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro" + QByteArray::number(number) + "@example.jp>\r\n";
    if (number % 10 == 3)
        header += "Subject: =?ISO-2022-JP?B?GyRCTCQ+NUJ6OS05cBsoQg==?= " + QByteArray::number(number) + "\r\n";
    else
        header += "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " + QByteArray::number(number) + "\r\n";
    header += "Date: Mon, 1 Jan 2024 09:00:00 +0900\r\nMessage-ID: <" + QByteArray::number(number) +
              "@example.jp>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n";
    return header + "\r\nbody\r\n";
}

struct ScanResult
{
    bool ok = false;
    double seconds = 0;
    int deleted = 0;
    QString error;
};

ScanResult scan(const QString& server, const QString& user, const Pop3Options& options)
{
    ScanResult result;
    QElapsedTimer timer;
    timer.start();
    // The session is a job: the benchmark runs the event loop until each step has ended.
    Pop3Session session(options);
    const auto runUntil = [&session](std::initializer_list<Pop3Session::State> ends) {
        QEventLoop loop;
        QObject::connect(&session, &Pop3Session::stateChanged, &loop, [&loop, ends](Pop3Session::State state) {
            if (std::find(ends.begin(), ends.end(), state) != ends.end())
                loop.quit();
        });
        loop.exec();
    };
    using S = Pop3Session::State;
    session.open(server);
    runUntil({S::Ready, S::AwaitingConsent, S::Failed});
    if (session.state() != S::Ready) {
        result.error = session.errorText();
        return result;
    }
    session.login(user, Password, false);
    runUntil({S::Transaction, S::Failed});
    const int count = session.state() == S::Transaction ? session.messageCount() : -1;
    for (int k = 1; k <= count; ++k) {
        session.requestHeaders(k, [&](int number, const std::optional<MessageHeaders>& headers) {
            if (headers && (headers->subject.contains(Keyword) || headers->sender.contains(Keyword))) {
                session.remove(number);
                ++result.deleted;
            }
        });
    }
    if (count >= 0) {
        session.close();
        runUntil({S::Closed, S::Failed});
    }
    result.ok = session.state() == S::Closed;
    result.seconds = timer.nsecsElapsed() / 1e9;
    if (!result.ok)
        result.error = session.errorText();
    return result;
}

QList<int> parseCounts(const QString& text)
{
    QList<int> counts;
    for (const QString& part : text.split(u',', Qt::SkipEmptyParts))
        counts.append(part.toInt());
    return counts;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QList<int> counts = {1000, 5000};
    int unpipelined = 100;
    bool full = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--messages") && i + 1 < args.size())
            counts = parseCounts(args.at(++i));
        else if (args.at(i) == QLatin1String("--unpipelined-messages") && i + 1 < args.size())
            unpipelined = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--full"))
            full = true;
    }
    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "cannot start dovecot: %s\n", qPrintable(dovecot.errorText()));
        return 1;
    }
    DelayProxy proxy(dovecot.port(), 25);
    const quint16 port = proxy.listen();
    const QString server = QStringLiteral("127.0.0.1:%1").arg(port);
    Pop3Options options;
    options.extraTrustedCertificates = {dovecot.certificate()};
    std::printf("POP3 check through a 50 ms round-trip proxy (STLS, USER/PASS, 10%% deleted)\n");
    int users = 0;
    bool allOk = true;
    for (int count : counts) {
        const int slowCount = full ? count : std::min(count, unpipelined);
        ScanResult runs[2];
        for (int mode = 0; mode < 2; ++mode) {
            const int n = mode == 0 ? count : slowCount;
            const QString user = QStringLiteral("bench%1").arg(++users);
            dovecot.addUser(user, Password);
            for (int k = 1; k <= n; ++k)
                dovecot.deliver(user, message(k));
            options.allowPipelining = mode == 0;
            runs[mode] = scan(server, user, options);
            const int left = int(dovecot.messages(user).size());
            if (!runs[mode].ok || left != n - runs[mode].deleted || runs[mode].deleted != (n + 7) / 10) {
                std::printf("  run failed: %s (left %d)\n", qPrintable(runs[mode].error), left);
                allOk = false;
            }
        }
        const double slowFull = runs[1].seconds * count / slowCount;
        std::printf("%5d messages: pipelined %.3f s, one at a time %.3f s%s, ratio %.1fx\n", count, runs[0].seconds,
                    slowFull,
                    slowCount == count ? ""
                                       : qPrintable(QStringLiteral(" (estimated from %1 messages: %2 s)")
                                                        .arg(slowCount)
                                                        .arg(runs[1].seconds, 0, 'f', 3)),
                    slowFull / runs[0].seconds);
    }
    return allOk ? 0 : 1;
}
