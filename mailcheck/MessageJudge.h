#pragma once

#include "keywords/KeywordText.h" // the judge compares texts by the keyword text rules
#include "mailcheck/AllowList.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <memory>

// The mailbox's own address in a decoded From field, lower case: the one angle-addr outside quoted
// strings and comments ("名前 <a@b.jp>", "\"<x@y>\" <a@b.jp>"), or, without one, the bare address
// with its comments left out ("a@b.jp (名前)"). Empty when the field holds no single plain address:
// two angle-addrs, unbalanced quotes, comments or brackets, text after the angle-addr, not exactly
// one "@", an empty local part or domain, white space, control or special characters in the
// address, or an address longer than 254 characters. An empty address is never allowed.
QString senderAddress(const QString& from);

class KeywordAutomaton;

// Decides, for one check, which message is to be deleted: the first keyword in list order found in
// its subject, else the first found in its sender (exactly, or both folded when loose), unless the
// sender's address is on the allow list. Keywords, subject and sender are compared without the
// ASCII spaces around them; blank keywords never match. Built once per check: judging a message
// costs one pass over its texts, however many keywords there are.
class MessageJudge
{
public:
    MessageJudge(const QStringList& keywords, bool loose, AllowList allow = {});
    // The keyword (as stored) that condemns the message, or an empty text to keep it. subject and
    // sender are the decoded header texts as they came, NULs and spaces included.
    QString judge(const QString& subject, const QString& sender) const;

private:
    // The text as the keywords were prepared: without the spaces around it, and folded when loose.
    QString prepared(const QString& text) const;

    QStringList m_keywords;
    bool m_loose;
    AllowList m_allow;
    std::shared_ptr<const KeywordAutomaton> m_automaton; // shared by copies: it never changes
};

// Removes every live record whose keyword (without surrounding spaces) is keyword, through the
// keyword file's own marking and rebuild. Empty text on success (also when none was there), else
// the keyword file's message.
QString removeKeyword(const QString& keyword);
