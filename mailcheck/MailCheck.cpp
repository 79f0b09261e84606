#include "mailcheck/MailCheck.h"

#include "keywords/KeywordFile.h"
#include "mailcheck/CheckHelpers.h"
#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>

namespace {
const QString NewMailText = QStringLiteral("新着メールがあります。");
const QString NoMailProgramText = QStringLiteral("起動するメーラーが設定されていません。");
const QString ErrorCaption = QStringLiteral("エラー");
const QString ProgramTitle = QStringLiteral("Mossvale");

QString trustFile()
{
    return QDir(Paths::dataFolder()).filePath(QStringLiteral("tls.tsv"));
}

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
    checkMailbox(outcome, manual);
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

void MailCheck::checkMailbox(CheckOutcome& outcome, bool manual)
{
    const AccountSettings& account = m_settings.account();
    if (account.Pop3Server.isEmpty()) {
        outcome.kind = CheckOutcome::Kind::NotConfigured;
        return;
    }
    const std::unique_ptr<Pop3Session> opened = openSession(outcome, manual);
    if (!opened)
        return;
    Pop3Session& session = *opened;
    // A keyring may show its unlock prompt to the user who asked, within half the session's time;
    // a timed check waits no longer than for a reply.
    const int keyringWaitMs = manual ? m_options.sessionTimeoutMs / 2 : m_options.replyTimeoutMs;
    if (const QString error = m_settings.loadAccount(keyringWaitMs); !error.isEmpty()) {
        session.close();
        outcome.kind = CheckOutcome::Kind::NoConnection;
        outcome.reason = error;
        return;
    }
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

// Opens the session, asking on a manual check about what stopped it for the password's sake;
// each answer settles one question (plain text, then a certificate), so it asks at most twice.
std::unique_ptr<Pop3Session> MailCheck::openSession(CheckOutcome& outcome, bool manual)
{
    Pop3Options options = m_options;
    if (const QString error = options.trust.load(trustFile()); !error.isEmpty()) {
        outcome.kind = CheckOutcome::Kind::NoConnection;
        outcome.reason = error;
        return nullptr;
    }
    for (int asked = 0;; ++asked) {
        auto session = std::make_unique<Pop3Session>(options);
        if (!session->open(m_settings.account().Pop3Server)) {
            outcome.kind = failureKind(*session, false);
            outcome.reason = session->errorText();
            if (!manual || asked == 2 || !settleRefusal(*session, options.trust))
                return nullptr;
            if (const QString error = options.trust.save(trustFile()); !error.isEmpty()) {
                outcome.reason = error;
                return nullptr;
            }
            if (!session->allowPlainText())
                continue; // a certificate now trusted needs a new handshake
            outcome.kind = CheckOutcome::Kind::NotRun;
            outcome.reason.clear();
        }
        if (session->isEncrypted() && !options.trust.encrypted.contains(session->serverKey())) {
            options.trust.encrypted.insert(session->serverKey());
            outcome.notice = options.trust.save(trustFile());
        }
        return session;
    }
}

// True when the user's answer lets the session be tried again; trust then holds the answer.
bool MailCheck::settleRefusal(const Pop3Session& session, TlsTrust& trust)
{
    switch (session.refusal()) {
    case Pop3Session::Refusal::PlainText:
        if (!m_windows.ask(session.errorText() + QStringLiteral("\n\n") + Pop3Texts::plainTextQuestion))
            return false;
        trust.plainTextAllowed.insert(session.serverKey());
        return true;
    case Pop3Session::Refusal::Certificate:
        if (!m_windows.askToTrust(session.errorText() + QStringLiteral("\n\n") +
                                  certificateDetails(session.rejectedCertificate())))
            return false;
        trust.pinned.insert(session.serverKey(), session.rejectedCertificate());
        return true;
    case Pop3Session::Refusal::EncryptionLost:
    case Pop3Session::Refusal::None:
        break;
    }
    return false;
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
