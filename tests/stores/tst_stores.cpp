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
#include <QSslConfiguration>
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
using Copies = QList<std::tuple<int, qint64, bool>>;
constexpr qint64 MB = 1024 * 1024;

// clang-format off
// taken: how many of message 3's names are used (the plain name, then -2, -3...); stored: the new copy's suffix,
// null when refused.
struct CopyRow { const char* name; int taken; QString stored; };
// Each copy: age in days, size, made by the running check; gone: the indexes of those removed.
struct PruneRow { const char* name; Copies copies; QList<int> gone; };
// History lines before and after settling; ours: how many of them the program reads.
struct HistoryRow { const char* name; QList<QByteArray> before; int ours; QSet<QByteArray> onServer; bool idsKnown; QList<QByteArray> after; };
// count messages, the first with id and the others "<n>", saved as saved; loaded: each one kept whole,
// the rest keep only id and size.
struct SeenRow { const char* name; QByteArray id; int count; SeenStore::Message saved, loaded; int loadedCount; bool someShortened; };
struct SeenFileRow { const char* name; QByteArray lines; int loaded; };
// The allow list before, the entry the user takes out, the file after (null: refused, the file kept).
struct AllowRow { const char* name; QByteArray before; AllowEntry removed; QByteArray after; };
struct TlsRow { const char* name; QByteArray file; QString error; QSet<QString> encrypted, plainText; QStringList pinned; };
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

    // Two checks in one second with the same message number: the second copy gets a name of its
    // own, owner-only, and is found from its history entry; the first is left as it was.
    void copies_data()
    {
        const auto add = addRow<CopyRow>();
        add({"the plain and the next name taken", 2, "-3"});
        add({"every name taken", SavedCopies::MaxSameName, QString()});
    }
    void copies()
    {
        QFETCH(CopyRow, row);
        const QString stem = "★MailData/Deleted/" + QFileInfo(SavedCopies::path(CheckTime, 3)).completeBaseName();
        const auto name = [&](int i) { return stem + (i == 0 ? QString() : u'-' + QString::number(i + 1)) + ".eml"; };
        for (int i = 0; i < row.taken; ++i)
            m_folder->write(name(i), mail("casino A" + QByteArray::number(i)));
        QString stored;
        const QString error = SavedCopies::store(CheckTime, 3, mail("casino B"), &stored);
        for (int i = 0; i < row.taken; ++i)
            QCOMPARE(m_folder->read(name(i)), mail("casino A" + QByteArray::number(i)));
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files | QDir::Hidden).size(), row.taken + !row.stored.isNull());
        QVERIFY2(row.stored.isNull() == error.contains(QStringLiteral("すべて使われています")), qPrintable(error));
        if (row.stored.isNull())
            return;
        QCOMPARE(stored, m_folder->file(stem + row.stored + ".eml"));
        QCOMPARE(m_folder->mode(stem + row.stored + ".eml"), 0600);
        QCOMPARE(SavedCopies::find({CheckTime, false, "u", 10, "casino", "x@spam.example", "casino B"}), stored);
    }

    // Copies go after MaxAgeDays, then the oldest past MaxTotalBytes or MaxCopies; the running check's never.
    void prune_data()
    {
        const auto add = addRow<PruneRow>();
        // clang-format off
        add({"too old, then the oldest past the total", {{31, 10, false}, {10, 30 * MB, false}, {5, 25 * MB, false}, {1, 10, false}}, {0, 1}});
        add({"the running check's 64 MB and old copy stay, others go", Copies{{40, 10, true}, {20, MB, false}, {2, MB, false}} + Copies(8, {0, 8 * MB, true}), {1, 2}});
        // clang-format on
        Copies many(SavedCopies::MaxCopies + 1, {1, 10, false});
        many[0] = {2, 10, false};
        add({"past MaxCopies the oldest goes", many, {0}});
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
    }
    void history()
    {
        QFETCH(HistoryRow, row);
        m_folder->write("★MailData/deleted.tsv", "# kept as it is\n" + row.before.join());
        const QList<HistoryEntry> read = DeletionHistory::read();
        QCOMPARE(read.size(), row.ours);
        for (const HistoryEntry& entry : read)
            QVERIFY2(row.before.contains(entry.line()), entry.line());
        QCOMPARE(DeletionHistory::settle(row.onServer, row.idsKnown), QString());
        QCOMPARE(m_folder->read("★MailData/deleted.tsv"), "# kept as it is\n" + row.after.join());
    }

    // Past MaxFileBytes the history turns over, whole; tabs and line breaks in a field become spaces.
    void historyTurnsOver()
    {
        const QByteArray full(DeletionHistory::MaxFileBytes + 1, '\n');
        m_folder->write("★MailData/deleted.tsv", full);
        QVERIFY(DeletionHistory::append({{CheckTime, false, "u1", 10, "k", "s", "件名\tと\r\n"}}).isEmpty());
        QCOMPARE(m_folder->read("★MailData/deleted.1.tsv"), full);
        QCOMPARE(m_folder->read("★MailData/deleted.tsv"),
                 "2024-05-06T07:08:09+09:00\tdeleted\tu1\t10\tk\ts\t件名 と  \n");
    }

    // What is saved loads back: ids that are no UIDLs left out, fields made whole, texts and the
    // file kept to their bounds, the cut recorded.
    void seen_data()
    {
        const auto add = addRow<SeenRow>();
        const QString nul(1, QChar(0)), longText(5000, u'あ'), cutText(SeenStore::MaxTextChars, u'あ');
        add({"tabs, line breaks, NULs", "u1", 1, {10, "a\tb\r\nc", "d" + nul + "e"}, {10, "a b  c", "d e"}, 1, false});
        add({"an id of 71 characters", QByteArray(71, 'u'), 1, {1, "s", "f"}, {}, 0, false});
        add({"more than the file holds", "u1", 3000, {9, longText, longText}, {9, cutText, cutText, true}, 3000, true});
    }
    void seen()
    {
        QFETCH(SeenRow, row);
        SeenStore::Messages messages{{"short", {5, "s", "f"}}};
        for (int i = 0; i < row.count; ++i)
            messages.insert(i == 0 ? row.id : QByteArray::number(i), row.saved);
        QCOMPARE(SeenStore::save(seenFile(), "pop.example.jp", "user", messages), QString());
        QVERIFY(QFileInfo(seenFile()).size() <= SeenStore::MaxFileBytes);
        SeenStore::Messages loaded = SeenStore::load(seenFile(), "pop.example.jp", "user");
        QCOMPARE(loaded.take("short"), (SeenStore::Message{5, "s", "f"}));
        QCOMPARE(loaded.size(), row.loadedCount);
        const auto shortened = std::count(loaded.cbegin(), loaded.cend(), SeenStore::Message{row.loaded.size, {}, {}, true});
        QCOMPARE(std::count(loaded.cbegin(), loaded.cend(), row.loaded) + shortened, loaded.size());
        QCOMPARE(shortened > 0, row.someShortened);
        QVERIFY(SeenStore::load(seenFile(), "pop.example.jp", "other").isEmpty()); // another account's file
    }

    // A file this version reads, or refuses as a whole.
    void seenFiles_data()
    {
        const auto add = addRow<SeenFileRow>();
        add({"lines without the cut field", "\nu1\t10\ts\tf\nu2\t-1\t\t", 2});
        add({"a cut line", "\nu1\t10\ts\tf\tcut", 1});
        add({"a fifth field of a later version", "\nu1\t10\ts\tf\tx", 0});
        add({"a NUL in a text", QByteArray("\nu1\t10\ts\0\tf", 11), 0});
        add({"a text past the bound", "\nu1\t10\t" + QByteArray(SeenStore::MaxTextChars + 1, 's') + "\tf", 0});
        add({"a size below -1", "\nu1\t-2\ts\tf", 0});
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

    // The decisions file is read within its bounds, and what is read is written back to the same
    // decisions, never with a host the reader would skip.
    void tls_data()
    {
        const auto add = addRow<TlsRow>();
        const QByteArray pin = QSslConfiguration::systemCaCertificates().value(0).toDer().toBase64();
        const QByteArray tooLong(TlsTrust::MaxHostChars + 1, 'h');
        add({"decisions", "tls\th.example\r\nplain\t192.0.2.1\npin\th.example\t" + pin, {}, {"h.example"}, {"192.0.2.1"}, {"h.example"}});
        add({"hosts that are none", "tls\ta b\ntls\t" + tooLong + "\nplain\t\x01\ntls\tok\n", {}, {"ok"}, {}, {}});
        add({"too many lines", QByteArray("tls\th\n").repeated(TlsTrust::MaxLines + 1), "多すぎる", {}, {}, {}});
        add({"too large", QByteArray(TlsTrust::MaxFileSize + 1, '\n'), "大きすぎる", {}, {}, {}});
    }
    void tls()
    {
        QFETCH(TlsRow, row);
        const QString file = m_folder->file("★MailData/tls.tsv");
        m_folder->write("★MailData/tls.tsv", row.file);
        for (const bool writtenBack : {false, true}) {
            TlsTrust trust;
            const QString error = trust.load(file);
            QVERIFY2(writtenBack || row.error.isEmpty() ? error.isEmpty() : error.contains(row.error), qPrintable(error));
            QVERIFY(trust.encrypted == row.encrypted && trust.plainTextAllowed == row.plainText && trust.pinned.keys() == row.pinned);
            QVERIFY(row.pinned.isEmpty() || row.file.endsWith(trust.pinned.value(row.pinned[0]).toDer().toBase64()));
            trust.encrypted.insert("new\nplain\tinjected.example");
            trust.plainTextAllowed.insert(QString(TlsTrust::MaxHostChars + 1, u'h'));
            QCOMPARE(trust.save(file), QString());
        }
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
        add({"the same text twice: one goes", "a@y.jp\na@y.jp\n", {1, "a@y.jp"}, "a@y.jp\n"});
        add({"file changed since it was read", "b@y.jp\na@y.jp\n", {0, "a@y.jp"}, {}});
        add({"another case is another entry", "Boss@example.jp\n", {0, "boss@example.jp"}, {}});
        add({"a prefix is another entry", "boss@example.jp.evil\n", {0, "boss@example.jp"}, {}});
        add({"a comment is no entry", "#a@y.jp\n", {0, "#a@y.jp"}, {}});
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
    // The view numbers each entry by its line, and lists at most MaxEntries.
    void allowEntries()
    {
        m_folder->write("★MailData/allow.txt",
                        "# c\n\n  A@b.jp \r\n@d.jp\n#\n" + QByteArray("x@y.jp\n").repeated(AllowList::MaxEntries));
        const QList<AllowEntry> entries = AllowList::entries(AllowList::defaultFile());
        QCOMPARE(entries.size(), AllowList::MaxEntries);
        QCOMPARE(entries.mid(0, 3), (QList<AllowEntry>{{2, "A@b.jp"}, {3, "@d.jp"}, {5, "x@y.jp"}}));
    }
};

QTEST_MAIN(TestStores)
#include "tst_stores.moc"
