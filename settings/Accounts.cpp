#include "settings/Accounts.h"

#include "platform/AtomicFile.h"
#include "platform/Cp932Codec.h"
#include "platform/IniProfile.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {
// accounts.ini is a handful of short sections; anything far larger is not ours and is not read.
constexpr qint64 MaxFileBytes = 64 * 1024;
constexpr int MaxValueLength = 1000;
// Ids beyond this are taken for damage, so that NextId can never overflow.
constexpr int MaxId = 1'000'000;
const QString SectionPrefix = QStringLiteral("account");

// One "[section]" of the file: its name as written and its keys, lower-cased, first one of a name wins.
struct Section
{
    QString name;
    QHash<QString, QString> keys;
};

// The whole file as read: the keys before the first section, then the sections in file order.
// Keys this program does not know are read but not kept: a re-save writes only the known ones.
struct IniText
{
    QHash<QString, QString> top;
    QList<Section> sections;
};

QString readValue(QString value)
{
    value = value.trimmed();
    // Quotes keep blanks at either end (a password may have them).
    if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
        value = value.mid(1, value.size() - 2);
    value.remove(QChar(0)).remove(u'\r');
    return value.left(MaxValueLength);
}

IniText parse(const QByteArray& bytes)
{
    IniText ini;
    QHash<QString, QString>* keys = &ini.top;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            ini.sections.append({line.mid(1, line.size() - 2).trimmed().toString(), {}});
            keys = &ini.sections.last().keys;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed().toString().toLower();
        if (!keys->contains(key))
            keys->insert(key, readValue(line.mid(equals + 1).toString()));
    }
    return ini;
}

QString writeValue(const QString& value)
{
    const bool quote =
        value != value.trimmed() || (value.startsWith(u'"') && value.endsWith(u'"') && value.size() >= 2);
    return quote ? u'"' + value + u'"' : value;
}

// The id of "[Account<id>]", or 0 when the name is not one or the number is not a further account's.
int sectionId(const QString& name)
{
    if (!name.startsWith(SectionPrefix, Qt::CaseInsensitive))
        return 0;
    const QString digits = name.mid(SectionPrefix.size());
    if (digits.isEmpty() || digits.size() > 7 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return 0;
    const int id = digits.toInt();
    return id > Accounts::FirstId && id <= MaxId ? id : 0;
}

QString signInText(AccountSignIn signIn)
{
    switch (signIn) {
    case AccountSignIn::Apop:
        return QStringLiteral("apop");
    case AccountSignIn::OAuth2:
        return QStringLiteral("oauth2");
    default:
        return QStringLiteral("password");
    }
}

AccountSignIn signInOf(const QString& text)
{
    if (text.compare(u"apop", Qt::CaseInsensitive) == 0)
        return AccountSignIn::Apop;
    if (text.compare(u"oauth2", Qt::CaseInsensitive) == 0)
        return AccountSignIn::OAuth2;
    return AccountSignIn::Password;
}

Account accountOf(int id, const QHash<QString, QString>& keys)
{
    const auto key = [&keys](const char* name) { return keys.value(QString::fromLatin1(name).toLower()); };
    Account account;
    account.id = id;
    account.name = key("Name");
    account.server = key("Server");
    account.user = key("User");
    account.signIn = signInOf(key("SignIn"));
    account.oauth = {key("OAuthClientId"), key("OAuthAuthorizeUrl"), key("OAuthTokenUrl"), key("OAuthScope")};
    account.enabled = key("Enabled") != u"0";
    bool ok = false;
    const int order = key("Order").toInt(&ok);
    account.order = ok ? order : id; // unordered accounts follow in the order they were made
    account.mute = key("Mute") == u"1";
    account.noDelete = key("NoDelete") == u"1";
    account.sound = key("Sound");
    account.password = key("Password");
    return account;
}

// The first account's keys in section "Mossvale", as load reads them and save writes them.
struct FirstKey
{
    const char* name;
    QString (*text)(const Account&);
};
QString bit(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}
const FirstKey FirstKeys[] = {
    {"Account1Name", [](const Account& a) { return a.name; }},
    {"Account1Enabled", [](const Account& a) { return bit(a.enabled); }},
    {"Account1Order", [](const Account& a) { return QString::number(a.order); }},
    {"Account1Mute", [](const Account& a) { return bit(a.mute); }},
    {"Account1NoDelete", [](const Account& a) { return bit(a.noDelete); }},
    {"Account1Sound", [](const Account& a) { return a.sound; }},
};

Account firstAccount(const AccountSettings& settings, const IniProfile::Document& general)
{
    const auto text = [&general](const QString& key) { return general.text(AddedSection, key, QString()).trimmed(); };
    Account first;
    first.id = Accounts::FirstId;
    first.server = settings.Pop3Server;
    first.user = settings.UserId;
    first.signIn = text(QStringLiteral("SignIn")).compare(u"oauth2", Qt::CaseInsensitive) == 0 ? AccountSignIn::OAuth2
                   : settings.UseApop != 0                                                     ? AccountSignIn::Apop
                                           : AccountSignIn::Password;
    first.oauth = {text(QStringLiteral("OAuthClientId")), text(QStringLiteral("OAuthAuthorizeUrl")),
                   text(QStringLiteral("OAuthTokenUrl")), text(QStringLiteral("OAuthScope"))};
    first.name = text(QStringLiteral("Account1Name"));
    first.enabled = text(QStringLiteral("Account1Enabled")) != u"0";
    first.order = general.number(AddedSection, QStringLiteral("Account1Order"));
    first.mute = text(QStringLiteral("Account1Mute")) == u"1";
    first.noDelete = text(QStringLiteral("Account1NoDelete")) == u"1";
    first.sound = text(QStringLiteral("Account1Sound"));
    return first;
}

QString native(const QString& file)
{
    return QDir::toNativeSeparators(file);
}

// The file's content, or an error naming it; a missing file is empty and no error.
QByteArray readFile(const QString& file, QString* error)
{
    const QFileInfo info(file);
    if (!info.exists())
        return {};
    if (info.size() > MaxFileBytes) {
        *error = QStringLiteral("ファイル「%1」が大きすぎるため（64 KB 超）、読み込みませんでした。").arg(native(file));
        return {};
    }
    QByteArray bytes;
    if (!readWholeFile(file, &bytes))
        *error = QStringLiteral("ファイル「%1」を読み込めませんでした。").arg(native(file));
    return bytes.left(MaxFileBytes); // the file may have grown since it was measured
}

// The further accounts of the file, each id once and at most MaxAccounts - 1; what was left out goes to problems.
QList<Account> furtherAccounts(const IniText& ini, const QString& file, QStringList* problems)
{
    QList<Account> accounts;
    QSet<int> ids;
    int overflow = 0;
    for (const Section& section : ini.sections) {
        const int id = sectionId(section.name);
        if (id == 0 || ids.contains(id)) {
            problems->append(
                QStringLiteral(
                    "ファイル「%1」のセクション[%2]はアカウントの番号が正しくないため、読み込みませんでした。")
                    .arg(native(file), section.name.left(40)));
        } else if (accounts.size() >= Accounts::MaxAccounts - 1) {
            ++overflow;
        } else {
            ids.insert(id);
            accounts.append(accountOf(id, section.keys));
        }
    }
    if (overflow > 0)
        problems->append(
            QStringLiteral("アカウントは16個までです。ファイル「%1」の残りの%2個のアカウントは読み込みませんでした。")
                .arg(native(file))
                .arg(overflow));
    return accounts;
}

// The next id never given: the file's NextId, and past every id the file and the list hold.
int nextId(const IniText& ini, const QList<Account>& accounts)
{
    int next = std::clamp(ini.top.value(QStringLiteral("nextid")).toInt(), Accounts::FirstId + 1, MaxId + 1);
    for (const Section& section : ini.sections)
        next = std::max(next, sectionId(section.name) + 1);
    for (const Account& account : accounts)
        next = std::max(next, account.id + 1);
    return next;
}

QString validate(const QList<Account>& accounts)
{
    if (accounts.size() > Accounts::MaxAccounts)
        return QStringLiteral("アカウントは16個までです。アカウントを減らしてください。");
    QSet<QString> names;
    QSet<int> ids;
    for (const Account& account : accounts) {
        const QString name = account.displayName();
        if (names.contains(name))
            return QStringLiteral("アカウント名「%1」がほかのアカウントと同じです。別の名前にしてください。").arg(name);
        if (account.id != 0 && (ids.contains(account.id) || account.id > MaxId || account.id < 0))
            return QStringLiteral("アカウント「%1」の番号が正しくありません。").arg(name);
        names.insert(name);
        ids.insert(account.id);
        for (const QString& value :
             {account.name, account.server, account.user, account.sound, account.password, account.oauth.clientId,
              account.oauth.authorizeUrl, account.oauth.tokenUrl, account.oauth.scope}) {
            if (value.size() > MaxValueLength || value.contains(u'\n') || value.contains(u'\r') ||
                value.contains(QChar(0)))
                return QStringLiteral("アカウント「%1」の設定に改行か長すぎる値（%2文字超）があります。")
                    .arg(name)
                    .arg(MaxValueLength);
        }
        if (account.isFirst() && (!Cp932Codec::canEncode(account.name) || !Cp932Codec::canEncode(account.sound)))
            return QStringLiteral("アカウント「%1」の名前かサウンドに、Shift_JIS で表せない文字が含まれています。")
                .arg(name);
    }
    return {};
}

QByteArray fileText(int next, const QList<Account>& accounts)
{
    QString text = QStringLiteral("NextId=%1\n").arg(next);
    const auto line = [&text](const char* key, const QString& value) {
        text += QString::fromLatin1(key) + u'=' + writeValue(value) + u'\n';
    };
    for (const Account& a : accounts) {
        if (a.isFirst())
            continue;
        text += QStringLiteral("\n[Account%1]\n").arg(a.id);
        line("Name", a.name);
        line("Server", a.server);
        line("User", a.user);
        line("SignIn", signInText(a.signIn));
        for (const auto& [key, value] :
             {std::pair{"OAuthClientId", a.oauth.clientId}, std::pair{"OAuthAuthorizeUrl", a.oauth.authorizeUrl},
              std::pair{"OAuthTokenUrl", a.oauth.tokenUrl}, std::pair{"OAuthScope", a.oauth.scope}}) {
            if (!value.isEmpty())
                line(key, value);
        }
        line("Enabled", bit(a.enabled));
        line("Order", QString::number(a.order));
        if (a.mute)
            line("Mute", bit(true));
        if (a.noDelete)
            line("NoDelete", bit(true));
        if (!a.sound.isEmpty())
            line("Sound", a.sound);
        if (!a.password.isEmpty())
            line("Password", a.password);
    }
    return text.toUtf8();
}

// Writes the first account's keys that differ from the stored ones, so unchanged settings keep every byte.
QString saveFirst(const Account& first)
{
    const QString file = Paths::generalSettingsFile();
    const IniProfile::Document general = IniProfile::Document::load(file);
    if (!general.error().isEmpty())
        return general.error();
    const Account stored = firstAccount({}, general);
    for (const FirstKey& key : FirstKeys) {
        const QString text = key.text(first);
        if (text == key.text(stored))
            continue;
        const QString error = IniProfile::writeText(file, AddedSection, QString::fromLatin1(key.name), text);
        if (!error.isEmpty())
            return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(native(file), error);
    }
    return {};
}

QString saveFurther(QList<Account>& accounts)
{
    const QString file = Accounts::file();
    QString error;
    const QByteArray before = readFile(file, &error);
    const IniText stored = parse(before);
    int next = nextId(stored, accounts);
    for (Account& account : accounts) {
        if (account.id == 0)
            account.id = next++;
    }
    const bool further = std::any_of(accounts.begin(), accounts.end(), [](const Account& a) { return !a.isFirst(); });
    const QByteArray after = fileText(next, accounts);
    // One account and no file yet: nothing to keep, so no file is made.
    if ((!further && !QFileInfo::exists(file)) || (error.isEmpty() && after == before))
        return {};
    if (!makePrivateFolder(Paths::dataFolder()))
        return QStringLiteral("フォルダー「%1」を作れませんでした。").arg(native(Paths::dataFolder()));
    const QString written = writeFileAtomically(file, after, OwnerOnly);
    return written.isEmpty() ? QString()
                             : QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(native(file), written);
}

// Names already taken get the id after them, later accounts in the list giving way to earlier ones.
void renameDuplicates(QList<Account>& accounts, QStringList* problems)
{
    QSet<QString> names;
    for (Account& account : accounts) {
        if (names.contains(account.displayName())) {
            const QString taken = account.displayName();
            account.name = QStringLiteral("%1 (%2)").arg(taken).arg(account.id);
            problems->append(QStringLiteral("アカウント名「%1」が重なっているため、「%2」と表示します。ファイル「%3」")
                                 .arg(taken, account.name, native(Accounts::file())));
        }
        names.insert(account.displayName());
    }
}
} // namespace

QString Account::displayName() const
{
    const QString shown = name.trimmed();
    return shown.isEmpty() ? QStringLiteral("アカウント%1").arg(id) : shown;
}

QString Account::seenFile() const
{
    const QDir data(Paths::dataFolder());
    return data.filePath(isFirst() ? QStringLiteral("seen.tsv") : QStringLiteral("seen-%1.tsv").arg(id));
}

QString Account::copiesFolder() const
{
    const QDir data(Paths::dataFolder());
    return data.filePath(isFirst() ? QStringLiteral("Deleted") : QStringLiteral("Deleted/%1").arg(id));
}

namespace Accounts {

QString file()
{
    return QDir(Paths::dataFolder()).filePath(QStringLiteral("accounts.ini"));
}

QList<Account> load(const AccountSettings& first, QString* error)
{
    QStringList problems;
    const IniProfile::Document general = IniProfile::Document::load(Paths::generalSettingsFile());
    if (!general.error().isEmpty())
        problems.append(general.error());
    QList<Account> accounts{firstAccount(first, general)};
    QString readError;
    const IniText ini = parse(readFile(file(), &readError));
    if (!readError.isEmpty())
        problems.append(readError);
    accounts += furtherAccounts(ini, file(), &problems);
    std::stable_sort(accounts.begin(), accounts.end(), [](const Account& a, const Account& b) {
        return a.order != b.order ? a.order < b.order : a.id < b.id;
    });
    renameDuplicates(accounts, &problems);
    if (error)
        *error = problems.join(u'\n');
    return accounts;
}

QString save(QList<Account>& accounts)
{
    if (QString refused = validate(accounts); !refused.isEmpty())
        return refused;
    if (QString error = saveFurther(accounts); !error.isEmpty())
        return error;
    const auto first = std::find_if(accounts.begin(), accounts.end(), [](const Account& a) { return a.isFirst(); });
    return first == accounts.end() ? QString() : saveFirst(*first);
}

} // namespace Accounts
