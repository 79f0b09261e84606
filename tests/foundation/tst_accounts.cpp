// The accounts beside the first: accounts.ini as users and tests write it, hostile copies of it,
// and the first account's keys, which must leave a one-account folder exactly as it was.
#include "TableRows.h"
#include "TestProgramFolder.h"
#include "settings/Accounts.h"

#include <QTest>
#include <memory>

namespace {
const QString File = QStringLiteral("★MailData/accounts.ini");
const AccountSettings First{u"pop.example.jp"_qs, {}, {}, 1, u"taro"_qs, {}};

Account further(const QString& name, int id = 0)
{
    Account a;
    a.id = id;
    a.name = name;
    a.server = u"pop3s://mail.example.net"_qs;
    return a;
}

QStringList names(const QList<Account>& accounts)
{
    QStringList shown;
    for (const Account& a : accounts)
        shown << QStringLiteral("%1:%2").arg(a.id).arg(a.displayName());
    return shown;
}

// clang-format off
struct HostileRow { const char* name; QByteArray bytes; QStringList shown; QString error; };
// clang-format on
QByteArray sections(int from, int to)
{
    QByteArray bytes;
    for (int id = from; id <= to; ++id)
        bytes += "[Account" + QByteArray::number(id) + "]\nServer=h\nName=n" + QByteArray::number(id) + '\n';
    return bytes;
}
} // namespace

class TestAccounts : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;

private Q_SLOTS:
    void init() { m_folder = std::make_unique<TestProgramFolder>(); }

    void everyKeyRoundTrips()
    {
        Account full = further(u"仕事"_qs);
        full.user = u"hanako@example.net"_qs;
        full.signIn = AccountSignIn::OAuth2;
        full.oauth = {u"client"_qs, u"https://a.example/auth"_qs, u"https://a.example/token"_qs, u"scope x"_qs};
        full.enabled = false;
        full.order = 7;
        full.mute = full.noDelete = true;
        full.sound = u"/home/u/音.wav"_qs;
        full.password = u" \"blank=ends\" "_qs;
        Account apop = further(u"旧"_qs);
        apop.signIn = AccountSignIn::Apop;
        QList<Account> first = Accounts::load(First);
        first[0].name = u"メイン"_qs;
        first[0].mute = true;
        first[0].order = 9;
        QList<Account> saved{first[0], full, apop};
        QCOMPARE(Accounts::save(saved), QString());
        QCOMPARE(m_folder->mode(File), 0600);
        std::sort(saved.begin(), saved.end(), [](auto& a, auto& b) { return a.order < b.order; });
        QString error;
        QCOMPARE(Accounts::load(First, &error), saved);
        QCOMPARE(error, QString());
        QCOMPARE(saved.last().signIn, AccountSignIn::Apop); // the first account's APOP comes from tolvex.ini
        QCOMPARE(saved.last().copiesFolder(), m_folder->file(u"★MailData/Deleted"_qs));
        QCOMPARE(saved[0].seenFile(), m_folder->file(u"★MailData/seen-3.tsv"_qs));
    }

    void idsAreNeverGivenTwice()
    {
        m_folder->write(File, "NextId=3\n[Account4]\nServer=h\n");
        QList<Account> accounts = Accounts::load(First).mid(0, 1); // account 4 removed
        accounts += {further(u"a"_qs), further(u"b"_qs)};
        QCOMPARE(Accounts::save(accounts), QString());
        QCOMPARE(names(accounts), QStringList({u"1:アカウント1"_qs, u"5:a"_qs, u"6:b"_qs}));
        accounts = {accounts[0]}; // every further one removed, then one added
        QCOMPARE(Accounts::save(accounts), QString());
        accounts += further(u"c"_qs);
        QCOMPARE(Accounts::save(accounts), QString());
        QCOMPARE(names(Accounts::load(First)), QStringList({u"1:アカウント1"_qs, u"7:c"_qs}));
    }

    void refusalsWriteNothing()
    {
        QList<Account> accounts = Accounts::load(First);
        for (int i = 0; i < Accounts::MaxAccounts; ++i)
            accounts += further(QString::number(i));
        QVERIFY(Accounts::save(accounts).contains(u"16個まで"));
        accounts = Accounts::load(First) + QList{further(u"x"_qs), further(u" x"_qs)};
        QVERIFY(Accounts::save(accounts).contains(u"「x」"));
        accounts = Accounts::load(First) + QList{further(u"アカウント1"_qs)};
        QVERIFY(!Accounts::save(accounts).isEmpty());
        QVERIFY(!m_folder->exists(File));
    }

    void hostileFilesAreBoundedAndTold_data()
    {
        const auto row = addRow<HostileRow>();
        const QStringList one{u"1:アカウント1"_qs};
        QStringList fifteen = one;
        for (int id = 2; id <= 16; ++id)
            fifteen << QStringLiteral("%1:n%1").arg(id);
        row({"over 64 KB, not read", sections(2, 2) + QByteArray(70'000, ';'), one, u"64 KB"_qs});
        row({"binary", QByteArray(4000, '\0') + "\xff\xfe[\x01\n=\x80", one, {}});
        row({"100 sections: 15 kept", sections(2, 101), fifteen, u"16個まで"_qs});
        row({"bad and repeated ids",
             "[Account0]\nServer=a\n[Account1]\nServer=b\n[AccountX]\n[Account-3]\n[Account3]\nName=ok\n[account3]\n",
             one + QStringList{u"3:ok"_qs}, u"[AccountX]"_qs});
        row({"names taken twice", "[Account5]\nName=x\n[Account2]\nName=x\n[Account3]\nName=アカウント1\n",
             QStringList{u"1:アカウント1"_qs, u"2:x"_qs, u"3:アカウント1 (3)"_qs, u"5:x (5)"_qs}, u"重なって"_qs});
        row({"CRLF, BOM, comments, unknown keys, no server kept",
             "\xEF\xBB\xBF; c\r\n# c\r\n\r\n[ Account2 ]\r\nname = \"  q \" \r\nColour=red\r\nName=late\r\n",
             one + QStringList{u"2:q"_qs},
             {}});
    }
    void hostileFilesAreBoundedAndTold()
    {
        QFETCH(HostileRow, row);
        m_folder->write(File, row.bytes);
        QString error;
        const QList<Account> accounts = Accounts::load(First, &error);
        QCOMPARE(names(accounts), row.shown);
        QVERIFY2(row.error.isEmpty() ? error.isEmpty() : error.contains(row.error), qPrintable(error));
    }

    void oneAccountFolderKeepsEveryByte()
    {
        const QByteArray general = "[EXEINI]\r\nNAME=x\r\n[Mossvale]\r\nSignIn=oauth2\r\nAccount1Name=\x83\x81\r\n";
        m_folder->write(GeneralFile, general);
        m_folder->writeServer(u"pop.example.jp"_qs);
        m_folder->writeAccount(u"taro"_qs, u"pw"_qs);
        const QByteArray server = m_folder->read(ServerFile), account = m_folder->read(AccountFile);
        QList<Account> accounts = Accounts::load(First);
        QCOMPARE(accounts.size(), 1);
        QCOMPARE(accounts[0].signIn, AccountSignIn::OAuth2);
        QCOMPARE(Accounts::save(accounts), QString());
        QCOMPARE(m_folder->read(GeneralFile), general);
        QCOMPARE(m_folder->read(ServerFile), server);
        QCOMPARE(m_folder->read(AccountFile), account);
        QVERIFY(!m_folder->exists(File));
        accounts[0].enabled = false; // a change writes its own key alone
        QCOMPARE(Accounts::save(accounts), QString());
        QCOMPARE(m_folder->read(GeneralFile), general + "Account1Enabled=0\r\n");
    }
};

QTEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts.moc"
