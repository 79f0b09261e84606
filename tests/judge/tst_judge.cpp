// The judge of one message: which keyword condemns it, exactly or loosely, and which senders the
// allow list protects.
#include "mailcheck/MessageJudge.h"

#include <QTest>

namespace {
// One message judged: by which keywords, exactly or loosely, against which allow list; kept when condemnedBy is empty.
// clang-format off
struct JudgeRow { const char* name; QStringList keywords; QString subject, sender; bool loose; QByteArray allow; QString condemnedBy; };
// clang-format on
const QString Tanaka = u"Tanaka <tanaka@example.jp>"_qs;
const QByteArray Boss = "boss@company.jp";
} // namespace

class TestJudge : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judges_data()
    {
        QTest::addColumn<JudgeRow>("row");
        // clang-format off
        const JudgeRow rows[] = {
            {"exact: in sender", {"spam.example"}, "ご案内", "店 <info@spam.example>", false, "", "spam.example"},
            {"exact: case differs", {"viagra"}, "VIAGRA now", "x@y.jp", false, "", ""},
            {"exact: full-width space kept", {"　激安"}, "激安", "x@y.jp", false, "", ""},
            {"exact: spaces-only keyword", {"   "}, "a b", "x@y.jp", false, "", ""},
            {"loose: case", {"viagra"}, "VIAGRA now", "x@y.jp", true, "", "viagra"},
            {"loose: hiragana", {"セール"}, "夏のせーる", "x@y.jp", true, "", "セール"},
            {"loose: long text folded whole", {"ガム"}, QString(31, u'x') + u"ｶﾞﾑ"_qs, "x@y.jp", true, "", "ガム"},
            {"loose: the last kana fold too", {"ヱヲンヴ"}, "ゑをんゔ", "x@y.jp", true, "", "ヱヲンヴ"},
            // A keyword of full-width spaces matched every subject holding one, and, loosely, every sender with a space.
            {"full-width space keyword, exact subject", {"　"}, "会議　資料", "x@y.jp", false, "", ""},
            {"full-width space keyword, loose sender", {"　"}, "会議", Tanaka, true, "", ""},
            // The first keyword in list order, not the first found in the text.
            {"order: list, not position", {"abcd", "bc", "a"}, "xabcd", "x@y.jp", false, "", "abcd"},
            {"NUL in subject", {"casino"}, QString::fromUtf16(u"\0casino", 7), "x@y.jp", false, "", "casino"},
            {"allowed address", {"spam"}, "spam", "上司 <BOSS@Example.jp>", false, "boss@example.jp", ""},
            {"allowed subdomain", {"spam"}, "spam", "a@mail.example.jp", true, "\n@example.jp\n", ""},
            {"lookalike domain", {"spam"}, "spam", "a@badexample.jp", false, "@example.jp", "spam"},
            {"display name is no address", {"spam"}, "spam", "boss@example.jp <x@s.jp>", false, "boss@example.jp", "spam"},
            {"comment line", {"spam"}, "spam", "x@s.jp", false, "# x@s.jp", "spam"},
            {"allowed: address and comment", {"spam"}, "spam", "boss@company.jp (Boss)", false, Boss, ""},
            {"allowed: quoted name with brackets", {"spam"}, "spam", "\"a <b> (c)\" <boss@company.jp>", false, Boss, ""},
            {"trick: quoted angle-addr", {"spam"}, "spam", "\"<boss@company.jp>\" <spam@evil.example>", false, Boss, "spam"},
            {"trick: two angle-addrs", {"spam"}, "spam", "<boss@company.jp> <spam@evil.example>", false, Boss, "spam"},
            {"trick: angle-addr in a comment", {"spam"}, "spam", "spam@evil.example (<boss@company.jp>)", false, Boss, "spam"},
            {"trick: two @", {"spam"}, "spam", "spam@evil.example@example.jp", false, "@example.jp", "spam"},
            {"trick: unclosed quote", {"spam"}, "spam", "\"x <boss@company.jp>", false, Boss, "spam"},
            {"trick: text after the angle-addr", {"spam"}, "spam", "<boss@company.jp> spam@evil.example", false, Boss, "spam"},
        };
        // clang-format on
        for (const JudgeRow& row : rows)
            QTest::newRow(row.name) << row;
    }

    void judges()
    {
        QFETCH(JudgeRow, row);
        const MessageJudge judge(row.keywords, row.loose, AllowList::parse(row.allow));
        QCOMPARE(judge.judge(row.subject, row.sender), row.condemnedBy);
    }
};

QTEST_MAIN(TestJudge)
#include "tst_judge.moc"
