// Times MessageJudge on 10,000 messages (1 in 50 spam; ordinary Japanese and English subjects and
// senders) with a full keyword list (32,767 keywords, the one that finds the spam last) and with
// that one keyword alone, exactly and loosely. Both must delete the same messages, and the full list
// should cost at most 1.5 times the single keyword: the judge makes one pass over each text
// however many keywords there are. Building the judge (once a check) is timed on its own line.
//
// Usage: mossvale_bench_judge [--rounds N]  (judging rounds per list, best one counts; default 5)
#include "keywords/KeywordFile.h"
#include "mailcheck/MessageJudge.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int Messages = 10000;
constexpr int SpamEvery = 50;
constexpr double Target = 1.5;
const QString Marker = QStringLiteral("未承諾広告※");

struct Message
{
    QString subject;
    QString sender;
};

// Subjects and senders of ordinary mail, picked by a fixed sequence so every run sees the same.
QList<Message> mailbox()
{
    const QStringList subjects{u"Re: 来週の打ち合わせについて"_qs,
                               u"【ご確認】見積書の送付 No.%1"_qs,
                               u"お世話になっております。請求書の件"_qs,
                               u"Fwd: 議事録 %1月定例会議"_qs,
                               u"Project update: sprint %1 review"_qs,
                               u"Meeting notes for Tuesday"_qs,
                               u"Invoice #%1 from Example Supplies"_qs,
                               u"サーバー メンテナンスのお知らせ（%1日）"_qs,
                               u"Your order %1 has shipped"_qs,
                               u"  週報 第%1週  "_qs,
                               u"ＰＴＡ だより　%1号"_qs,
                               u"Re: Re: lunch on Friday?"_qs};
    const QStringList senders{
        u"田中 太郎 <tanaka@example.co.jp>"_qs,     u"\"Suzuki, Hanako\" <h.suzuki@example.jp>"_qs,
        u"notifications@service.example.com"_qs,    u"営業部 <sales%1@example.ne.jp>"_qs,
        u"Alice Smith <alice@mail.example.org>"_qs, u"ｻﾎﾟｰﾄ窓口 <support@example.jp> (自動送信)"_qs};
    QList<Message> messages;
    quint32 seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int i = 0; i < Messages; ++i) {
        Message m{subjects.at(next() % subjects.size()), senders.at(next() % senders.size())};
        m.subject.replace(u"%1"_qs, QString::number(next() % 900 + 1));
        m.sender.replace(u"%1"_qs, QString::number(next() % 9));
        if (i % SpamEvery == SpamEvery - 1)
            m.subject = Marker + u" 今だけの特別なご案内 "_qs + m.subject;
        messages.append(m);
    }
    return messages;
}

// A full list of spam phrases and domains that ordinary mail does not hold, the marker last.
QStringList fullList()
{
    const QStringList first{u"無料"_qs,   u"激安"_qs,   u"副業"_qs,   u"高収入"_qs, u"当選"_qs,
                            u"限定"_qs,   u"現金"_qs,   u"出会い"_qs, u"即日"_qs,   u"完全"_qs,
                            u"極秘"_qs,   u"casino"_qs, u"bonus"_qs,  u"viagra"_qs, u"crypto"_qs,
                            u"winner"_qs, u"loan"_qs,   u"ＦＸ"_qs,   u"ｶｼﾞﾉ"_qs,   u"ポイント"_qs};
    const QStringList second{
        u"キャンペーン"_qs, u"で稼ぐ"_qs, u"プレゼント"_qs, u"保証"_qs,  u"！！"_qs,     u"★"_qs,
        u" offer"_qs,       u" now"_qs,   u"-deal"_qs,      u"情報"_qs,  u"サイト"_qs,   u"会員"_qs,
        u"ゲット"_qs,       u"大放出"_qs, u"チャンス"_qs,   u" club"_qs, u"【緊急】"_qs, u"速報"_qs};
    QStringList keywords;
    for (int i = 0; keywords.size() < MaxKeywordRecords - 1; ++i) {
        const int round = i / int(first.size() * second.size());
        const QString word = first.at(i % first.size()) + second.at(i / first.size() % second.size());
        keywords.append(round == 0       ? word
                        : round % 3 == 0 ? u"@spam%1.example"_qs.arg(i)
                                         : word + QString::number(round));
    }
    keywords.append(Marker);
    return keywords;
}

struct Timing
{
    double buildMs;
    double judgeMs;
    QList<int> deleted;
};

// Builds a judge of keywords, then judges every message rounds times; the best round counts.
Timing time(const QStringList& keywords, bool loose, const QList<Message>& messages, int rounds)
{
    QElapsedTimer timer;
    timer.start();
    const MessageJudge judge(keywords, loose);
    Timing timing{double(timer.nsecsElapsed()) / 1e6, 1e300, {}};
    for (int round = 0; round < rounds; ++round) {
        QList<int> deleted;
        timer.restart();
        for (int i = 0; i < messages.size(); ++i) {
            if (!judge.judge(messages.at(i).subject, messages.at(i).sender).isEmpty())
                deleted.append(i);
        }
        timing.judgeMs = std::min(timing.judgeMs, double(timer.nsecsElapsed()) / 1e6);
        timing.deleted = deleted;
    }
    return timing;
}
} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N]\n", argv[0]);
            return 2;
        }
    }
    const QList<Message> messages = mailbox();
    const QStringList full = fullList();
    bool same = true;
    bool met = true;
    std::printf("Judging %d messages (1 in %d spam), best of %d rounds\n", Messages, SpamEvery, rounds);
    for (const bool loose : {false, true}) {
        const Timing one = time({Marker}, loose, messages, rounds);
        const Timing all = time(full, loose, messages, rounds);
        const double ratio = all.judgeMs / one.judgeMs;
        same = same && one.deleted == all.deleted && one.deleted.size() == Messages / SpamEvery;
        met = met && ratio <= Target;
        std::printf("  %-6s      1 keyword: %8.2f ms (built in %7.2f ms), %d deleted\n", loose ? "loose" : "exact",
                    one.judgeMs, one.buildMs, int(one.deleted.size()));
        std::printf("  %-6s %6lld keywords: %8.2f ms (built in %7.2f ms), %d deleted\n", loose ? "loose" : "exact",
                    static_cast<long long>(full.size()), all.judgeMs, all.buildMs, int(all.deleted.size()));
        std::printf("  %-6s ratio %.2fx (target at most %.1fx)\n", loose ? "loose" : "exact", ratio, Target);
    }
    if (!same) {
        std::printf("FAILED: the full list and the single keyword deleted different messages\n");
        return 1;
    }
    std::printf(met ? "Target met\n" : "Target missed\n");
    return 0;
}
