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

CheckOutcome::Kind failureKind(const Pop3Session& session, bool loggedIn)
{
    if (session.failure() == Pop3Connection::Failure::Cancelled)
        return CheckOutcome::Kind::Cancelled;
    return loggedIn ? CheckOutcome::Kind::Broken : CheckOutcome::Kind::NoConnection;
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

CheckOutcome MailCheck::run(bool manual)
{
    CheckOutcome outcome;
    checkMailbox(outcome);
    outcome.finished = QDateTime::currentDateTime();
    if (outcome.kind == CheckOutcome::Kind::LoginRefused)
        m_windows.showMessage(TrimAtNul(outcome.reason), ErrorCaption);
    else if (outcome.failed() && manual)
        m_windows.showMessage(outcome.details(), ProgramTitle);
    if (outcome.remaining() > 0)
        announce(outcome.remaining());
    else if (outcome.foundNothing() && m_settings.general().hangUpWhenEmpty)
        m_windows.hangUp();
    return outcome;
}

void MailCheck::checkMailbox(CheckOutcome& outcome)
{
    const AccountSettings& account = m_settings.account();
    if (account.Pop3Server.isEmpty()) {
        outcome.kind = CheckOutcome::Kind::NotConfigured;
        return;
    }
    Pop3Session session(m_options);
    if (!session.open(account.Pop3Server)) {
        outcome.kind = failureKind(session, false);
        outcome.reason = session.errorText();
        return;
    }
    m_settings.loadAccount();
    m_windows.setAccountFields(account.UserId, account.Password);
    if (account.UserId.isEmpty() || account.Password.isEmpty()) {
        m_windows.showSettingsWindow();
        session.close();
        outcome.kind = CheckOutcome::Kind::AccountMissing;
        return;
    }
    const int count = session.login(account.UserId, account.Password, account.UseApop != 0);
    if (count < 0) {
        outcome.kind = session.refused() ? CheckOutcome::Kind::LoginRefused : failureKind(session, false);
        outcome.reason = session.errorText();
        session.close();
        return;
    }
    outcome.messages = count;
    if (count > 0)
        scanMessages(session, outcome);
    finish(session, outcome);
}

void MailCheck::scanMessages(Pop3Session& session, CheckOutcome& outcome)
{
    // Read once, at the first message: nothing can change the file while the check runs. A list
    // that cannot be read deletes nothing, and the user hears why.
    QStringList keywords;
    const QString keywordError = KeywordFile::LoadMatchKeywords(&keywords);
    if (!keywordError.isEmpty())
        outcome.notice = keywordError + QStringLiteral("\n迷惑メールの削除は行いませんでした。");
    int refusedInARow = 0;
    int found = 0;
    for (int k = 1; k <= outcome.messages && !session.isBroken(); ++k) {
        m_windows.showProgress(k, outcome.messages);
        const std::optional<MessageHeaders> headers = session.headers(k);
        // Without its own headers a message is never judged, least of all on another's texts.
        if (!headers) {
            if (++refusedInARow >= MaxRefusedInARow)
                break; // a count that the server's own answers belie
            continue;
        }
        refusedInARow = 0;
        found = k;
        if (!keywordError.isEmpty())
            continue;
        const QString subject = TrimAtNul(headers->subject);
        if (firstMatchingKeyword(keywords, subject, TrimAtNul(headers->sender)).isEmpty())
            continue;
        if (session.remove(k)) {
            outcome.deletedNumbers.append(k);
            outcome.deletedSubjects.append(trimSpaces(subject));
        }
    }
    if (refusedInARow >= MaxRefusedInARow)
        outcome.messages = found;
}

// Only what the server confirmed counts: a session that broke deleted nothing, a deletion the
// server refused leaves its message as new mail.
void MailCheck::finish(Pop3Session& session, CheckOutcome& outcome)
{
    if (!session.close()) {
        outcome.kind = failureKind(session, true);
        outcome.reason = session.errorText();
        outcome.messages = 0;
        outcome.deletedNumbers.clear();
        outcome.deletedSubjects.clear();
        return;
    }
    outcome.kind = CheckOutcome::Kind::Checked;
    outcome.deleted = session.deletionsConfirmed();
    outcome.refusedDeletions = session.refusedDeletions();
    for (int number : outcome.refusedDeletions) {
        const qsizetype at = outcome.deletedNumbers.indexOf(number);
        outcome.deletedNumbers.removeAt(at);
        outcome.deletedSubjects.removeAt(at);
    }
    if (!outcome.refusedDeletions.isEmpty())
        outcome.notice = session.errorText();
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
