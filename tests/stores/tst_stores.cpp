// The data folder's stores: saved copies never replace one another nor go with the check that made
// them, the history settles deletions the server did not confirm, the memory of earlier checks
// and the TLS decisions read back all they write, within their bounds, and taking a sender off the
// allow list takes off that one alone.
#include "TableRows.h"
#include "TestProgramFolder.h"
#include "mailcheck/AllowList.h"
#include "mailcheck/DeletionHistory.h"
#include "mailcheck/SavedCopies.h"
#include "mailcheck/SeenStore.h"
#include "maillib/TlsTrust.h"

#include <QDir>
#include <QTest>
#include <ctime>
#include <memory>

namespace {
// Local time, which the tests fix at +09:00 so that history lines can be written out.
const QDateTime CheckTime(QDate(2024, 5, 6), QTime(7, 8, 9));
const auto mail = [](const QByteArray& subject) { return "From: x@spam.example\r\nSubject: " + subject + "\r\n\r\nb\r\n"; };
// A history line of CheckTime as version 1.0 wrote it; status and uid vary.
const auto h = [](const QByteArray& status, const QByteArray& uid) {
    return "2024-05-06T07:08:09+09:00\t" + status + '\t' + uid + "\t10\tspam\tx@spam.example\tsubject " + uid + '\n';
};
// The same line of a named account.
const auto ha = [](const QByteArray& status, const QByteArray& uid, const QByteArray& account) {
    return h(status, uid).chopped(1) + '\t' + account + '\n';
};
using Copies = QList<std::tuple<int, qint64, bool>>;
constexpr qint64 MB = 1024 * 1024;

// clang-format off
// Each copy: age in days, size, made by the running check; gone: the indexes of those removed.
struct PruneRow { const char* name; Copies copies; QList<int> gone; };
// History lines before and after settling the account checked; ours: how many of them the program reads.
struct HistoryRow { const char* name; QList<QByteArray> before; int ours; QSet<QByteArray> onServer; bool idsKnown; QList<QByteArray> after; QString account = {}; bool first = true; };
struct SeenFileRow { const char* name; QByteArray lines; int loaded; };
// The allow list before, the entry the user takes out, the file after (null: refused, the file kept).
struct AllowRow { const char* name; QByteArray before; AllowEntry removed; QByteArray after; };
// clang-format on
} // namespace

class TestStores : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestProgramFolder> m_folder;

    QString seenFile() const { return m_folder->file("★MailData/seen.tsv"); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "JST-9");
        tzset();
    }
    void init() { m_folder = std::make_unique<TestProgramFolder>(); }

    // Checks in one second with the same message number: each copy gets a name of its own, owner-only,
    // and is found from its history entry; none replaces another, and past MaxSameName one is refused.
    void copies()
    {
        const QString stem = "★MailData/Deleted/" + QFileInfo(SavedCopies::path(CheckTime, 3)).completeBaseName();
        const auto name = [&](int i) { return stem + (i == 0 ? QString() : u'-' + QString::number(i + 1)) + ".eml"; };
        QString stored;
        for (int i = 0; i < SavedCopies::MaxSameName; ++i) {
            QCOMPARE(SavedCopies::store(CheckTime, 3, mail(QByteArray::number(i)), &stored), QString());
            QCOMPARE(stored, m_folder->file(name(i)));
            QCOMPARE(m_folder->mode(name(i)), 0600);
        }
        QVERIFY(SavedCopies::store(CheckTime, 3, mail("refused"), &stored).contains(u"すべて使われています"));
        for (int i = 0; i < SavedCopies::MaxSameName; ++i)
            QCOMPARE(m_folder->read(name(i)), mail(QByteArray::number(i)));
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files | QDir::Hidden).size(), SavedCopies::MaxSameName);
        QCOMPARE(SavedCopies::find({CheckTime, false, "u", 10, "k", "x@spam.example", "2"}), m_folder->file(name(2)));
    }

    // Each account prunes its own folder alone: the first's never counts nor enters another's, and a
    // copy is found in its account's folder though the first's holds one of the same name.
    void accountCopies()
    {
        const QString second = SavedCopies::folder() + "/2";
        const QDateTime now = QDateTime::currentDateTime();
        QString first, own;
        QVERIFY(SavedCopies::store(CheckTime, 1, mail("a"), &first).isEmpty());
        QVERIFY(SavedCopies::store(CheckTime, 1, mail("b"), &own, second).isEmpty() && own.startsWith(second + '/'));
        // Together past MaxTotalBytes, each alone within it; the second's is past its age.
        QVERIFY(QFile::resize(first, 30 * MB) && QFile::resize(own, 30 * MB));
        QFile old(own);
        QVERIFY(old.open(QIODevice::Append) && old.setFileTime(now.addDays(-40), QFileDevice::FileModificationTime));
        QVERIFY(SavedCopies::prune(now).isEmpty());
        QVERIFY(QFile::exists(first) && QFile::exists(own));
        QCOMPARE(SavedCopies::find({CheckTime, false, "u", 10, "k", "x@spam.example", "b", false, "改名"}), own);
        QVERIFY(SavedCopies::prune(now, {}, second).isEmpty());
        QVERIFY(QFile::exists(first) && !QFile::exists(own));
    }

    // Copies go after MaxAgeDays, then the oldest past MaxTotalBytes (or MaxCopies); the running check's never.
    void prune_data()
    {
        const auto add = addRow<PruneRow>();
        // clang-format off
        add({"too old, then the oldest past the total", {{31, 10, false}, {10, 30 * MB, false}, {5, 25 * MB, false}, {1, 10, false}}, {0, 1}});
        add({"the running check's 64 MB and old copy stay, others go", Copies{{40, 10, true}, {20, MB, false}, {2, MB, false}} + Copies(8, {0, 8 * MB, true}), {1, 2}});
        // clang-format on
    }
    void prune()
    {
        QFETCH(PruneRow, row);
        const QDateTime now = QDateTime::currentDateTime();
        QStringList paths;
        QSet<QString> keep;
        QVERIFY(QDir().mkpath(SavedCopies::folder()));
        for (const auto& [age, size, own] : row.copies) {
            QFile file(paths.emplaceBack(SavedCopies::path(now, int(paths.size()))));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size) &&
                    file.setFileTime(now.addDays(-age), QFileDevice::FileModificationTime));
            if (own)
                keep.insert(file.fileName());
        }
        QVERIFY(SavedCopies::prune(now, keep).isEmpty());
        for (qsizetype i = 0; i < paths.size(); ++i)
            QVERIFY2(QFile::exists(paths.at(i)) != row.gone.contains(i), qPrintable(paths.at(i)));
    }

    // Every line the program reads it writes back to the same bytes, as version 1.0 wrote them; a line
    // it does not read hides no other. Unconfirmed deletions settle by the ids on the server; every
    // other byte stays.
    void history_data()
    {
        const auto add = addRow<HistoryRow>();
        QList<QByteArray> mixed{h("deleted", "u1"), h("unconfirmed", "u2"), h("unconfirmed", "u3"), h("trial", "u4")};
        mixed += {h("returned", "u5"), h("deleted", "u 6"), "2024-05-06T07:08:09+09:00\tdeleted\t\t\tk\ts\tt\n"};
        QList<QByteArray> settled = mixed;
        settled[1] = h("deleted", "u2");
        settled.remove(2);
        add({"gone: deleted; still there: not deleted", mixed, 5, {"u3", "u4"}, true, settled});
        add({"no ids from the server: nothing told", mixed, 5, {}, false, mixed});
        add({"no uid: nothing told", {h("unconfirmed", ""), h("unconfirmed", "u2")}, 2, {}, true,
             {h("unconfirmed", ""), h("deleted", "u2")}});
        // Accounts share uids: one account's server never settles another's lines.
        const QList<QByteArray> shared{h("unconfirmed", "u2"), ha("unconfirmed", "u2", "二"), ha("unconfirmed", "u3", "二"), ha("unconfirmed", "u2", "三")};
        add({"another account: its lines alone", shared, 4, {"u3"}, true, {shared[0], ha("deleted", "u2", "二"), shared[3]}, "二", false});
        add({"the first account by its name", shared + QList{ha("unconfirmed", "u2", "一")}, 5, {}, true, {h("deleted", "u2"), shared[1], shared[2], shared[3], ha("deleted", "u2", "一")}, "一"});
    }
    void history()
    {
        QFETCH(HistoryRow, row);
        m_folder->write("★MailData/deleted.tsv", "# kept as it is\n" + row.before.join());
        const QList<HistoryEntry> read = DeletionHistory::read();
        QCOMPARE(read.size(), row.ours);
        for (const HistoryEntry& entry : read)
            QVERIFY2(row.before.contains(entry.line()), entry.line());
        QCOMPARE(DeletionHistory::settle(row.onServer, row.idsKnown, row.account, row.first), QString());
        // An entry goes at the end, with tabs and line breaks in its fields made spaces.
        QVERIFY(DeletionHistory::append({{CheckTime, false, "u9", 10, "k", "s", "件名\tと\r\n"}}).isEmpty());
        QCOMPARE(m_folder->read("★MailData/deleted.tsv"), "# kept as it is\n" + row.after.join() +
                                                              "2024-05-06T07:08:09+09:00\tdeleted\tu9\t10\tk\ts\t件名 と  \n");
    }

    // What is saved loads back: ids that are no UIDLs left out, tabs, line breaks and NULs made
    // spaces, texts and the file kept to their bounds, the cut recorded.
    void seen()
    {
        const QString longText(5000, u'あ'), cutText(SeenStore::MaxTextChars, u'あ');
        SeenStore::Messages messages{{"short", {5, "a\tb\r\nc", u"d"_qs + QChar(0) + u'e'}}, {QByteArray(71, 'u'), {1, "s", "f"}}};
        for (int i = 0; i < 3000; ++i)
            messages.insert(QByteArray::number(i), {9, longText, longText});
        QCOMPARE(SeenStore::save(seenFile(), "pop.example.jp", "user", messages), QString());
        QVERIFY(QFileInfo(seenFile()).size() <= SeenStore::MaxFileBytes);
        SeenStore::Messages loaded = SeenStore::load(seenFile(), "pop.example.jp", "user");
        QCOMPARE(loaded.take("short"), (SeenStore::Message{5, "a b  c", "d e"}));
        QCOMPARE(loaded.size(), 3000);
        const auto shortened = std::count(loaded.cbegin(), loaded.cend(), SeenStore::Message{9, {}, {}, true});
        QVERIFY(shortened > 0);
        QCOMPARE(std::count(loaded.cbegin(), loaded.cend(), SeenStore::Message{9, cutText, cutText, true}) + shortened, loaded.size());
    }

    // A file this version reads, or refuses as a whole.
    void seenFiles_data()
    {
        const auto add = addRow<SeenFileRow>();
        add({"lines without the cut field", "\nu1\t10\ts\tf\nu2\t-1\t\t", 2});
        add({"a cut line", "\nu1\t10\ts\tf\tcut", 1});
        add({"a text past the bound", "\nu1\t10\t" + QByteArray(SeenStore::MaxTextChars + 1, 's') + "\tf", 0});
        QByteArray pastBound; // lines a smaller file would hold
        for (int i = 0; pastBound.size() <= SeenStore::MaxFileBytes; ++i)
            pastBound += "\nu" + QByteArray::number(i) + "\t1\t" + QByteArray(SeenStore::MaxTextChars, 's') + "\tf";
        add({"past the file's bound", pastBound, 0});
    }
    void seenFiles()
    {
        QFETCH(SeenFileRow, row);
        m_folder->write("★MailData/seen.tsv", "mossvale-seen 1\ts\tu" + row.lines);
        const SeenStore::Messages loaded = SeenStore::load(seenFile(), "s", "u");
        QCOMPARE(loaded.size(), row.loaded);
        QCOMPARE(loaded.value("u1").cut, row.lines.endsWith("\tcut"));
    }

    // The decisions file is written back never with a host the reader would skip, nor one that
    // forges a line (the round trip of decisions and pins: tst_mailcheck).
    void tls()
    {
        const QString file = m_folder->file("★MailData/tls.tsv");
        TlsTrust trust;
        m_folder->write("★MailData/tls.tsv", "tls\ta b\ntls\t" + QByteArray(TlsTrust::MaxHostChars + 1, 'h') + "\nplain\t\x01\ntls\tok\n");
        QCOMPARE(trust.load(file), QString());
        trust.encrypted.insert("new\nplain\tinjected.example");
        trust.plainTextAllowed.insert(QString(TlsTrust::MaxHostChars + 1, u'h'));
        QCOMPARE(trust.save(file), QString());
        TlsTrust reread;
        QVERIFY(reread.load(file).isEmpty() && reread.encrypted == QSet<QString>{"ok"} && reread.plainTextAllowed.isEmpty());
    }

    // The view lists exactly what the judge reads, and a removal rewrites the file owner-only with
    // one line less, or refuses and leaves every byte: never another entry than the one chosen.
    void allowRemoval_data()
    {
        const auto add = addRow<AllowRow>();
        // clang-format off
        add({"its case twin stays", "Boss@example.jp\nboss@example.jp\n", {1, "boss@example.jp"}, "Boss@example.jp\n"});
        add({"longer and domain entries stay", "a@example.jp\na@example.jp.evil\n@example.jp\n", {0, "a@example.jp"}, "a@example.jp.evil\n@example.jp\n"});
        add({"comments, blanks and line ends stay", "# mine\r\n x@y.jp \r\n\r\nz@y.jp\r\n", {1, "x@y.jp"}, "# mine\r\n\r\nz@y.jp\r\n"});
        add({"last line without its end", "a@y.jp\nb@y.jp", {1, "b@y.jp"}, "a@y.jp"});
        add({"file changed since it was read", "b@y.jp\na@y.jp\n", {0, "a@y.jp"}, {}});
        add({"another case is another entry", "Boss@example.jp\n", {0, "boss@example.jp"}, {}});
        add({"a prefix is another entry", "boss@example.jp.evil\n", {0, "boss@example.jp"}, {}});
        add({"past the end", "a@y.jp\n", {5, "a@y.jp"}, {}});
        // clang-format on
    }
    void allowRemoval()
    {
        QFETCH(AllowRow, row);
        const QString file = AllowList::defaultFile();
        m_folder->write("★MailData/allow.txt", row.before);
        const QList<AllowEntry> listed = AllowList::entries(file);
        for (const AllowEntry& entry : listed)
            QVERIFY(entry.text.startsWith(u'@') || AllowList::load(file).allows(entry.text));
        QCOMPARE(AllowList::remove(file, row.removed).isEmpty(), !row.after.isNull());
        QCOMPARE(m_folder->read("★MailData/allow.txt"), row.after.isNull() ? row.before : row.after);
        if (!row.after.isNull()) {
            QCOMPARE(m_folder->mode("★MailData/allow.txt"), 0600);
            QCOMPARE(AllowList::entries(file).size(), listed.size() - 1);
        }
    }
};

QTEST_MAIN(TestStores)
#include "tst_stores.moc"
