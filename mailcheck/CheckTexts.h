#pragma once

#include <QString>

// Why a judged message's copy was not kept; the message then stays on the server.
enum class CopyProblem {
    NotRequested, // the session could not ask for it
    NotReceived,  // the server refused it, or it was too large to take whole
    SizeMismatch, // not the size LIST gave
    NotTheJudged, // its subject, sender or Message-ID are not those judged
    TooLarge,     // larger than every copy together may be
    NotStored,    // the disk refused it (the store's reason is the detail)
};

// What the check says to the user in its own words, in one place: the code decides what happened
// in typed values, and only here does it become Japanese.
namespace CheckTexts {
inline const QString programTitle = QStringLiteral("Mossvale");
inline const QString errorCaption = QStringLiteral("エラー");
inline const QString newMail = QStringLiteral("新着メールがあります。");
inline const QString noMailProgram = QStringLiteral("起動するメーラーが設定されていません。");
inline const QString signInCancelled = QStringLiteral("サインインを中止しました。");
inline const QString noAccountEnabled = QStringLiteral("有効なアカウントがありません。「設定」の「アカウント」で有効にしてください。");

QString copyProblem(CopyProblem problem, const QString& detail = {});
// count messages kept on the server for want of a copy, and the first reason.
QString copiesLeft(int count, CopyProblem first, const QString& detail);
// The keyword list or the allow list could not be read (error names the file).
QString rulesUnreadable(const QString& error);
// The history could not take the deletions before QUIT (error names the file).
QString historyBlocked(const QString& error);
QString copyNotRemoved(const QString& path);
// A server whose mail could not be judged: it lacks TOP (noTop), or refused every TOP.
QString nothingJudged(const QString& server, bool noTop);
// A text about one of several accounts.
QString ofAccount(const QString& name, const QString& text);
} // namespace CheckTexts
