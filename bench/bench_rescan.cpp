// Times the second of two mail checks (the program's whole check: login, headers, keywords,
// deletions, QUIT) of a mailbox that the first one read, after 10 new messages arrived, one of them
// spam; and the first, full scan beside it. Real Dovecot behind a proxy that delays each direction
// by 25 ms (50 ms round trip), over POP3S.
//
// Then, at the first size, two full checks in trial mode (judging without deleting), with the
// keyword list at its limit of 32,767 keywords against one: the judge's cost must not grow with the
// number of keywords (at most 1.5 times), and both must match the same mail.
//
// Usage: mossvale_bench_rescan [--messages N,...]   (default 5000,50000)
#include "DelayProxy.h"
#include "keywords/KeywordFile.h"
#include "SilentWindows.h"
#include "mailcheck/CheckRun.h"
#include "settings/Settings.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/TestProgramFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <cstdio>

namespace {
const QString Password = QStringLiteral("bench");
const QString Keyword = QStringLiteral("未承諾広告");
constexpr int Runs = 5;

// About 700 bytes of header, the subject spam when asked.
QByteArray message(int number, bool spam)
{
    const QByteArray n = QByteArray::number(number);
    QByteArray header = "Return-Path: <sender" + n + "@example.jp>\r\n";
    for (int hop = 0; hop < 4; ++hop)
        header += "Received: from relay.example.jp by mx.example.jp with ESMTP id A" + n + "; Mon, 1 Jan 2024\r\n";
    header += "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro" + n + "@example.jp>\r\n";
    header += spam ? "Subject: =?ISO-2022-JP?B?GyRCTCQ+NUJ6OS05cBsoQg==?= " + n + "\r\n"
                   : "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " + n + "\r\n";
    return header + "Message-ID: <" + n + "@example.jp>\r\n\r\nbody\r\n";
}

// A new user with count ordinary messages, and settings that check it on server.
void mailbox(DovecotServer& dovecot, const QString& user, int count, const QString& server, SettingsModel& settings)
{
    dovecot.addUser(user, Password);
    for (int k = 1; k <= count; ++k)
        dovecot.deliver(user, message(k, false));
    settings.setServer({}, server, {}, 0);
    settings.confirmAccount(user, Password);
}


double timedCheck(SettingsModel& settings, const Pop3Options& options, CheckOutcome* outcome)
{
    NoWindows windows;
    QElapsedTimer timer;
    timer.start();
    // The check is a job: the benchmark runs the event loop until it has ended.
    CheckRun check(windows, settings, options);
    QEventLoop loop;
    QObject::connect(&check, &CheckRun::finished, &loop, [&](const CheckOutcome& ended) {
        *outcome = ended;
        loop.quit();
    });
    check.start(false);
    loop.exec();
    return timer.nsecsElapsed() / 1e9;
}

// A keyword file of count records, the bench's keyword last: every message is held against all.
QByteArray keywordFile(int count)
{
    QByteArray bytes;
    for (int k = 1; k <= count; ++k) {
        KeywordRecord record;
        record.Keyword = k == count ? Keyword : QStringLiteral("unused-keyword-%1").arg(k);
        bytes += KeywordFile::encodeRecord(record, nullptr).value_or(QByteArray());
    }
    return bytes;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QList<int> counts = {5000, 50000};
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--messages")) {
        counts.clear();
        for (const QString& part : args.at(2).split(u',', Qt::SkipEmptyParts))
            counts.append(part.toInt());
    }
    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "cannot start dovecot: %s\n", qPrintable(dovecot.errorText()));
        return 1;
    }
    // POP3S: TLS from the first byte; plain text: a server without STLS; STLS: port 110's usual way.
    DelayProxy pop3s(dovecot.tlsPort(), 25), plain(dovecot.port(), 25, true), stls(dovecot.port(), 25);
    struct Way
    {
        const char* name;
        DelayProxy& proxy;
        QString server;
        double target; // seconds, for 5,000 messages
    };
    Way ways[] = {{"POP3S", pop3s, QStringLiteral("pop3s://127.0.0.1:%1").arg(pop3s.listen()), 0.35},
                  {"plain text", plain, QStringLiteral("127.0.0.1:%1").arg(plain.listen()), 0.40},
                  {"STLS", stls, QStringLiteral("127.0.0.1:%1").arg(stls.listen()), 0}};
    Pop3Options options;
    options.extraTrustedCertificates = {dovecot.certificate()};
    std::printf("A second check after 10 new messages (1 spam) through a 50 ms round-trip proxy, median of %d\n", Runs);
    bool allOk = true;
    for (int count : counts) {
        for (const Way& way : ways) {
            if (count != counts.first() && way.target != 0.35)
                continue;
            TestProgramFolder folder;
            KeywordRecord record;
            record.Keyword = Keyword;
            const QString user = QStringLiteral("rescan%1w%2").arg(count).arg(&way - ways); // user names in lower case
            SettingsModel settings;
            mailbox(dovecot, user, count, way.server, settings);
            CheckOutcome first;
            bool ok = KeywordFile::WriteKeywordRecord(1, record).isEmpty();
            const double full = timedCheck(settings, options, &first);
            ok = ok && first.kind == CheckOutcome::Kind::Checked && first.messages == count;
            QList<double> seconds;
            QList<DelayProxy::Turns> turns;
            int delivered = count;
            for (int run = 0; run < Runs; ++run) {
                for (int k = 1; k <= 10; ++k)
                    dovecot.deliver(user, message(++delivered, k == 5));
                CheckOutcome second;
                way.proxy.takePassages();
                seconds.append(timedCheck(settings, options, &second));
                turns.append(DelayProxy::turns(way.proxy.takePassages()));
                const bool good = second.kind == CheckOutcome::Kind::Checked && second.deleted == 1 &&
                                  dovecot.messages(user).size() == count + 9 * (run + 1);
                if (!good)
                    std::printf("  run %d FAILED: %s\n", run + 1, qPrintable(second.details()));
                ok = ok && good;
            }
            QList<double> sorted = seconds;
            std::sort(sorted.begin(), sorted.end());
            const double median = sorted.at(Runs / 2);
            const DelayProxy::Turns& middle = turns.at(seconds.indexOf(median));
            const bool inTime = way.target == 0 || count > 5000 || median <= way.target;
            allOk = allOk && ok && inTime;
            std::printf("%6d messages, %-10s: second check %.3f s%s (full scan %.3f s), %d round trips, own time "
                        "between the listing and the first header request %lld ms%s\n",
                        count, way.name, median,
                        way.target == 0 || count > 5000 ? "" : qPrintable(QStringLiteral(" (at most %1 s)").arg(way.target)),
                        full, middle.roundTrips, middle.afterListingMs, ok ? "" : "  FAILED");
        }
        if (count != counts.first())
            continue;
        const Way& way = ways[0];
        TestProgramFolder folder;
        const QString user = QStringLiteral("trial%1").arg(count);
        SettingsModel settings;
        mailbox(dovecot, user, count, way.server, settings);
        // Full checks in trial mode: 1 in 50 of these messages is spam.
        for (int k = 1; k <= count / 50; ++k)
            dovecot.deliver(user, message(2 * count + k, true));
        settings.setAddedSwitch(SettingKey::TrialMode, true);
        double seconds[2];
        CheckOutcome judged[2];
        for (int i = 0; i < 2; ++i) {
            folder.write(QStringLiteral("★MailData/Tlxdata50.data"), keywordFile(i == 0 ? 1 : 32767));
            QFile::remove(folder.file(QStringLiteral("★MailData/seen.tsv"))); // every header read
            seconds[i] = timedCheck(settings, options, &judged[i]);
        }
        const bool same = judged[0].trialMatches == count / 50 && judged[1].trialMatches == count / 50;
        const double ratio = seconds[1] / seconds[0];
        allOk = allOk && same && ratio <= 1.5;
        std::printf("%6d messages, full check in trial mode: 1 keyword %.3f s, 32,767 keywords %.3f s, ratio %.2fx "
                    "(at most 1.5x)%s\n",
                    count + count / 50, seconds[0], seconds[1], ratio, same ? "" : "  FAILED: matches differ");
    }
    return allOk ? 0 : 1;
}
