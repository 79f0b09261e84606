// Several accounts in one check: four accounts of 1,000 messages each (one in ten spam), every one
// behind its own proxy that delays each direction by 25 ms (50 ms round trip), checked together by
// one CheckRun over POP3S from real Dovecot, against one such account checked alone; each is a
// whole first check (every header read, the spam deleted) of fresh mailboxes, median of 3, the two
// kinds of run taking turns. Target: the four take at most 1.3 times the one.
//
// Then the resident memory (VmRSS) of this process, idle after a check of four such accounts: at most
// 60 MB. It holds the proxies and the benchmark's own fixtures too, so the program itself needs less.
//
// Then the bound on accounts: an accounts.ini with 16 further sections gives 16 accounts in all and
// says why the 17th was left out, and saving a 17th is refused with nothing written.
//
// Usage: mossvale_bench_accounts [--messages N]   (default 1000). Exit status 0 when every target is met.
#include "DelayProxy.h"
#include "keywords/KeywordFile.h"
#include "SilentWindows.h"
#include "mailcheck/CheckRun.h"
#include "settings/Accounts.h"
#include "settings/Settings.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/TestProgramFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
const QString Password = QStringLiteral("bench");
const QString Keyword = QStringLiteral("未承諾広告");
constexpr int Runs = 3;
constexpr int Accounts4 = 4;
constexpr double MaxRatio = 1.3;
constexpr double MaxIdleMegabytes = 60;

// About 700 bytes of header; every tenth message is spam by its subject.
QByteArray message(int number)
{
    const QByteArray n = QByteArray::number(number);
    QByteArray header = "Return-Path: <sender" + n + "@example.jp>\r\n";
    for (int hop = 0; hop < 4; ++hop)
        header += "Received: from relay.example.jp by mx.example.jp with ESMTP id A" + n + "; Mon, 1 Jan 2024\r\n";
    header += "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro" + n + "@example.jp>\r\n";
    header += number % 10 == 3 ? "Subject: =?ISO-2022-JP?B?GyRCTCQ+NUJ6OS05cBsoQg==?= " + n + "\r\n"
                               : "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " + n + "\r\n";
    return header + "Message-ID: <" + n + "@example.jp>\r\n\r\nbody\r\n";
}


// Lets queued work (the jobs' deleteLater) run, as the program's idle event loop would.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

struct Bench
{
    DovecotServer dovecot;
    std::vector<std::unique_ptr<DelayProxy>> proxies; // one link of its own per account
    QStringList servers;
    Pop3Options options;
    int messages = 1000;
    int users = 0;
};

// A fresh user holding the bench's messages; its name.
QString newMailbox(Bench& bench)
{
    const QString user = QStringLiteral("acct%1").arg(++bench.users);
    bench.dovecot.addUser(user, Password);
    for (int k = 1; k <= bench.messages; ++k)
        bench.dovecot.deliver(user, message(k));
    return user;
}

// One check of count fresh accounts, the first kept as 1.0 keeps it and the others in accounts.ini;
// its seconds, or -1 when an account did not come out as it must (every spam message deleted, the
// rest left). The program folder, with the check's files, lives in folder.
double timedCheck(Bench& bench, int count, TestProgramFolder& folder)
{
    QStringList users;
    QByteArray further;
    for (int k = 0; k < count; ++k) {
        users.append(newMailbox(bench));
        if (k > 0)
            further += QStringLiteral("[Account%1]\nName=Bench %1\nServer=%2\nUser=%3\nPassword=%4\nEnabled=1\n")
                           .arg(k + 1)
                           .arg(bench.servers.at(k), users.last(), Password)
                           .toUtf8();
    }
    if (count > 1)
        folder.write(QStringLiteral("★MailData/accounts.ini"), further);
    KeywordRecord record;
    record.Keyword = Keyword;
    SettingsModel settings;
    settings.setServer({}, bench.servers.at(0), {}, 0);
    settings.confirmAccount(users.at(0), Password);
    if (!KeywordFile::WriteKeywordRecord(1, record).isEmpty())
        return -1;
    NoWindows windows;
    CheckRun check(windows, settings, bench.options);
    QEventLoop loop;
    QObject::connect(&check, &CheckRun::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    check.start(false);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int spam = (bench.messages + 7) / 10; // numbers 3, 13, 23 ...
    bool ok = check.outcomes().size() == count;
    for (const CheckRun::AccountOutcome& each : check.outcomes()) {
        const CheckOutcome& outcome = each.outcome;
        const bool good = outcome.kind == CheckOutcome::Kind::Checked && outcome.messages == bench.messages &&
                          outcome.deleted == spam;
        if (!good)
            std::printf("  %s FAILED: %s\n", qPrintable(each.account.displayName()), qPrintable(outcome.details()));
        ok = ok && good;
    }
    for (const QString& user : std::as_const(users))
        ok = ok && bench.dovecot.messages(user).size() == bench.messages - spam;
    return ok ? seconds : -1;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Four accounts together against one alone, then the memory after four; true when both targets are met.
bool speedAndMemory(Bench& bench)
{
    std::printf("One check over POP3S, each account behind its own 50 ms round trip, %d messages an account "
                "(1 in 10 deleted), median of %d\n",
                bench.messages, Runs);
    QList<double> one, four;
    bool ok = true;
    for (int run = 0; run < Runs; ++run) {
        for (int count : {1, Accounts4}) {
            TestProgramFolder folder;
            const double seconds = timedCheck(bench, count, folder);
            ok = ok && seconds > 0;
            (count == 1 ? one : four).append(seconds);
        }
    }
    const double ratio = median(four) / median(one);
    const bool fast = ok && ratio <= MaxRatio;
    std::printf("  1 account %.3f s, %d accounts %.3f s, ratio %.2fx (at most %.1fx)%s\n", median(one), Accounts4,
                median(four), ratio, MaxRatio, fast ? "" : "  FAILED");
    double megabytes = -1;
    {
        TestProgramFolder folder;
        ok = timedCheck(bench, Accounts4, folder) > 0 && ok;
        idle(1000);
        megabytes = residentMegabytes();
    }
    const bool small = megabytes > 0 && megabytes <= MaxIdleMegabytes;
    std::printf("  resident memory, idle after a check of %d accounts: %.1f MB (at most %.0f MB)%s\n", Accounts4,
                megabytes, MaxIdleMegabytes, small ? "" : "  FAILED");
    return fast && small;
}

// accounts.ini with 16 further sections: 16 accounts in all, and the reason for the one left out;
// then a 17th refused on saving, the file left as it was.
bool seventeenth()
{
    TestProgramFolder folder;
    QByteArray ini;
    for (int id = 2; id <= 17; ++id)
        ini += QStringLiteral("[Account%1]\nName=Mailbox %1\nServer=127.0.0.1:%2\nUser=u%1\nEnabled=1\n")
                   .arg(id)
                   .arg(10000 + id)
                   .toUtf8();
    folder.write(QStringLiteral("★MailData/accounts.ini"), ini);
    SettingsModel settings;
    QString why;
    QList<Account> accounts = Accounts::load(settings.account(), &why);
    const bool loaded = accounts.size() == Accounts::MaxAccounts && !why.isEmpty() &&
                        std::none_of(accounts.begin(), accounts.end(), [](const Account& a) { return a.id == 17; });
    std::printf("17 accounts in accounts.ini: %lld kept%s; the program says: %s\n", qlonglong(accounts.size()),
                loaded ? "" : "  FAILED", qPrintable(why));
    Account more;
    more.name = QStringLiteral("One too many");
    more.server = QStringLiteral("127.0.0.1:110");
    accounts.append(more);
    const QString refused = Accounts::save(accounts);
    const bool kept = !refused.isEmpty() && folder.read(QStringLiteral("★MailData/accounts.ini")) == ini;
    std::printf("Saving a 17th account: %s%s\n", qPrintable(refused.isEmpty() ? QStringLiteral("saved") : refused),
                kept ? "" : "  FAILED");
    return loaded && kept;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Bench bench;
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--messages"))
        bench.messages = std::max(10, args.at(2).toInt());
    if (!bench.dovecot.start()) {
        std::fprintf(stderr, "cannot start dovecot: %s\n", qPrintable(bench.dovecot.errorText()));
        return 1;
    }
    bench.options.extraTrustedCertificates = {bench.dovecot.certificate()};
    for (int k = 0; k < Accounts4; ++k) {
        bench.proxies.push_back(std::make_unique<DelayProxy>(bench.dovecot.tlsPort(), 25));
        bench.servers.append(QStringLiteral("pop3s://127.0.0.1:%1").arg(bench.proxies.back()->listen()));
    }
    const bool fast = speedAndMemory(bench);
    const bool bounded = seventeenth();
    return fast && bounded ? 0 : 1;
}
