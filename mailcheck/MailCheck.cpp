#include "mailcheck/MailCheck.h"

#include "keywords/KeywordFile.h"
#include "mailcheck/CheckHelpers.h"
#include "maillib/Pop3Session.h"
#include "settings/Settings.h"

namespace {
const QString NewMailText = QStringLiteral("新着メールがあります。");
const QString NoMailProgramText = QStringLiteral("起動するメーラーが設定されていません。");
const QString ErrorCaption = QStringLiteral("エラー");
const QString ProgramTitle = QStringLiteral("Mossvale");

// The keywords as the check compares them: without surrounding spaces, empty ones left out.
// Nothing when the data file cannot be read, so that nothing is deleted on a partial list.
std::optional<QStringList> loadKeywords()
{
    QStringList keywords;
    const QString error = KeywordFile::ReadKeywordRecords([&keywords](const KeywordRecord& record) {
        const QString keyword = trimSpaces(record.Keyword);
        if (!keyword.isEmpty())
            keywords.append(keyword);
        return true;
    });
    if (!error.isEmpty())
        return std::nullopt;
    return keywords;
}
} // namespace

QString firstMatchingKeyword(const QStringList& keywords, const QString& subject, const QString& sender)
{
    const QString s = trimSpaces(subject);
    const QString f = trimSpaces(sender);
    for (const QString& keyword : keywords) {
        if (keyword.isEmpty())
            continue;
        if (s.contains(keyword, Qt::CaseSensitive) || f.contains(keyword, Qt::CaseSensitive))
            return keyword;
    }
    return {};
}

MailCheck::Result MailCheck::run()
{
    Result result;
    const AccountSettings& account = m_settings.account();
    if (!account.Pop3Server.isEmpty()) {
        Pop3Session session;
        if (session.open(account.Pop3Server)) {
            m_settings.loadAccount();
            m_windows.setAccountFields(account.UserId, account.Password);
            if (account.UserId.isEmpty() || account.Password.isEmpty()) {
                m_windows.showSettingsWindow();
            } else {
                result.messages = session.login(account.UserId, account.Password, account.UseApop != 0);
                if (result.messages > 0)
                    scanMessages(session, result);
                else if (result.messages < 0)
                    m_windows.showMessage(TrimAtNul(session.errorText()), ErrorCaption);
            }
        }
        session.close();
    }
    if (result.remaining() > 0)
        announce(result.remaining());
    else if (result.messages == 0 && m_settings.general().hangUpWhenEmpty)
        m_windows.hangUp();
    return result;
}

void MailCheck::scanMessages(Pop3Session& session, Result& result)
{
    // Read once, at the first message: nothing can change the file while the check runs.
    const std::optional<QStringList> keywords = loadKeywords();
    for (int k = 1; k <= result.messages; ++k) {
        const std::optional<MessageHeaders> headers = session.headers(k);
        // Without its own headers a message is never judged, least of all on another's texts.
        if (!headers || !keywords)
            continue;
        const QString subject = TrimAtNul(headers->subject);
        const QString sender = TrimAtNul(headers->sender);
        if (firstMatchingKeyword(*keywords, subject, sender).isEmpty())
            continue;
        ++result.deleted;
        result.deletedSubjects.append(trimSpaces(subject));
        session.remove(k);
    }
}

void MailCheck::announce(int newMail)
{
    m_windows.startEventScene();
    const GeneralSettings& settings = m_settings.general();
    if (settings.newMailAction == NewMailAction::NoticeBoard) {
        m_windows.showNotice(NewMailText, QString::number(newMail));
        if (settings.autoCloseNotice) {
            m_windows.waitMilliseconds(1000);
            m_windows.unloadNotice();
        }
    } else if (settings.newMailAction == NewMailAction::MailProgram) {
        const QString path = settings.mailProgram;
        if (path.isEmpty() || path == NotSetText) {
            m_windows.showMessage(NoMailProgramText, ProgramTitle);
            return;
        }
        const QString error = m_windows.startProgram(trimSpaces(path));
        if (!error.isEmpty())
            m_windows.showMessage(error, ProgramTitle);
    }
}
