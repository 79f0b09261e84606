#include "mailcheck/MessageJudge.h"

#include "keywords/KeywordFile.h"

#include <algorithm>
#include <climits>
#include <vector>

// Aho-Corasick over UTF-16 code units. The trie is stored breadth first, so the children of a node
// are consecutive, sorted by their character; each node knows the smallest keyword number that ends
// there or at any node down its failure links, so one pass over a text names the first keyword in
// list order that occurs in it. Memory: about 18 bytes a node (at most one node per keyword
// character) and a table of the root's 65,536 children.
class KeywordAutomaton
{
public:
    // patterns[i] is keyword number i as compared; empty ones never match.
    explicit KeywordAutomaton(const QStringList& patterns);
    // The smallest i for which patterns[i] occurs in text, or -1.
    int firstIn(QStringView text) const;

private:
    qint32 child(qint32 node, char16_t c) const;

    static constexpr qint32 None = INT_MAX;
    // What a pass reads of a node, together: one cache line for most steps.
    struct Node
    {
        qint32 firstChild;
        qint32 childCount;
        qint32 fail; // the longest proper suffix that is a node
        qint32 best; // the smallest keyword number ending here or down fail
    };
    std::vector<Node> m_nodes;
    std::vector<char16_t> m_label;   // by node: the character of the edge from its parent
    std::vector<qint32> m_rootChild; // by character: the root's child, or 0 (the root)
    qint32 m_least = None;           // the smallest number of all: finding it ends a pass
};

KeywordAutomaton::KeywordAutomaton(const QStringList& patterns) : m_rootChild(0x10000, 0)
{
    // Sorted patterns build the trie depth first with every node's children in character order;
    // equal patterns keep the smaller number first.
    std::vector<qint32> order;
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        if (!patterns.at(i).isEmpty())
            order.push_back(qint32(i));
    }
    std::sort(order.begin(), order.end(), [&](qint32 a, qint32 b) {
        const QString& x = patterns.at(a);
        const QString& y = patterns.at(b);
        if (x == y)
            return a < b;
        return std::lexicographical_compare(x.utf16(), x.utf16() + x.size(), y.utf16(), y.utf16() + y.size());
    });

    // The trie as built: first child and next sibling links. It has at most one node a character.
    std::size_t most = 1;
    for (qint32 number : order)
        most += std::size_t(patterns.at(number).size());
    std::vector<char16_t> label{0};
    std::vector<qint32> own{None}, first{-1}, next{-1}, last{-1};
    for (auto* v : {&own, &first, &next, &last})
        v->reserve(most);
    label.reserve(most);
    std::vector<qint32> path{0};
    QStringView previous;
    for (qint32 number : order) {
        const QStringView pattern = patterns.at(number);
        qsizetype depth = 0;
        while (depth < previous.size() && depth < pattern.size() && previous[depth] == pattern[depth])
            ++depth;
        path.resize(depth + 1);
        for (; depth < pattern.size(); ++depth) {
            const qint32 parent = path.back();
            const qint32 node = qint32(label.size());
            label.push_back(pattern[depth].unicode());
            own.push_back(None);
            first.push_back(-1);
            next.push_back(-1);
            last.push_back(-1);
            (last[parent] < 0 ? first[parent] : next[last[parent]]) = node;
            last[parent] = node;
            path.push_back(node);
        }
        own[path.back()] = std::min(own[path.back()], number);
        m_least = std::min(m_least, number);
        previous = pattern;
    }
    last = {};

    // Breadth first: the children of each node get consecutive numbers.
    const std::size_t nodes = label.size();
    std::vector<qint32> built(1, 0);
    built.reserve(nodes);
    m_nodes.resize(nodes);
    m_label.resize(nodes);
    for (std::size_t i = 0; i < built.size(); ++i) {
        Node& node = m_nodes[i];
        node.firstChild = qint32(built.size());
        for (qint32 c = first[built[i]]; c >= 0; c = next[c])
            built.push_back(c);
        node.childCount = qint32(built.size()) - node.firstChild;
        node.fail = 0;
        node.best = own[built[i]];
        m_label[i] = label[built[i]];
    }
    for (qint32 c = m_nodes[0].firstChild; c < m_nodes[0].firstChild + m_nodes[0].childCount; ++c)
        m_rootChild[m_label[c]] = c;

    // Failure links in breadth-first order: a node's link is shallower, so it is complete already.
    for (std::size_t node = 1; node < nodes; ++node) {
        const Node& parent = m_nodes[node];
        for (qint32 c = parent.firstChild; c < parent.firstChild + parent.childCount; ++c) {
            qint32 f = parent.fail;
            qint32 target;
            while ((target = child(f, m_label[c])) == 0 && f != 0)
                f = m_nodes[f].fail;
            m_nodes[c].fail = target;
            m_nodes[c].best = std::min(m_nodes[c].best, m_nodes[target].best);
        }
    }
}

qint32 KeywordAutomaton::child(qint32 node, char16_t c) const
{
    if (node == 0)
        return m_rootChild[c];
    const auto begin = m_label.begin() + m_nodes[node].firstChild;
    const auto end = begin + m_nodes[node].childCount;
    const auto it = std::lower_bound(begin, end, c);
    return it != end && *it == c ? qint32(it - m_label.begin()) : 0;
}

int KeywordAutomaton::firstIn(QStringView text) const
{
    qint32 found = None;
    qint32 state = 0;
    for (const QChar c : text) {
        qint32 target;
        while ((target = child(state, c.unicode())) == 0 && state != 0)
            state = m_nodes[state].fail;
        state = target;
        if (m_nodes[state].best < found) {
            found = m_nodes[state].best;
            if (found == m_least)
                break;
        }
    }
    return found == None ? -1 : found;
}

namespace {
// RFC 5321 bounds a forward path to 256 characters, the angle brackets included.
constexpr qsizetype MaxAddressLength = 254;

// Whether text is one plain address: local part "@" domain, both non-empty, nothing but printable
// characters that need no quoting.
bool isPlainAddress(QStringView text)
{
    if (text.isEmpty() || text.size() > MaxAddressLength)
        return false;
    const qsizetype at = text.indexOf(u'@');
    if (at <= 0 || at == text.size() - 1 || text.indexOf(u'@', at + 1) >= 0)
        return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Format ||
               QStringView(u"()<>[]:;,\\\"").contains(c);
    });
}
} // namespace

QString senderAddress(const QString& from)
{
    QString bare;  // the text outside quoted strings, comments and the angle-addr
    QString angle; // the angle-addr's inside
    int angles = 0;
    bool quoted = false;
    bool sawQuoted = false;
    bool inAngle = false;
    bool afterAngle = false;
    qsizetype depth = 0; // of comments
    for (qsizetype i = 0; i < from.size(); ++i) {
        const QChar c = from.at(i);
        if (quoted || depth > 0) {
            if (c == u'\\')
                ++i; // a quoted pair: the next character is text
            else if (quoted && c == u'"')
                quoted = false;
            else if (!quoted && c == u'(')
                ++depth;
            else if (!quoted && c == u')')
                --depth;
            continue;
        }
        if (inAngle) {
            if (c == u'>') {
                inAngle = false;
                afterAngle = true;
            } else if (c == u'<') {
                return {};
            } else {
                angle += c;
            }
            continue;
        }
        if (c == u'(') {
            depth = 1;
        } else if (c == u'"') {
            if (afterAngle)
                return {};
            quoted = sawQuoted = true;
        } else if (c == u'<') {
            // Two angle-addrs (one may be a display name decoded into "<...>"): which is the sender's
            // own cannot be told, so neither is taken.
            if (++angles > 1)
                return {};
            inAngle = true;
        } else if (c == u'>') {
            return {};
        } else if (afterAngle) {
            if (!c.isSpace())
                return {};
        } else {
            bare += c;
        }
    }
    if (quoted || depth > 0 || inAngle)
        return {};
    // Without an angle-addr a quoted string can only be part of the address, which is then no plain one.
    const QString address = (angles == 1 ? angle : sawQuoted ? QString() : bare).trimmed();
    return isPlainAddress(address) ? address.toLower() : QString();
}

MessageJudge::MessageJudge(const QStringList& keywords, bool loose, AllowList allow)
    : m_keywords(keywords), m_loose(loose), m_allow(std::move(allow))
{
    QStringList patterns;
    patterns.reserve(keywords.size());
    for (const QString& keyword : keywords)
        patterns.append(isBlankKeyword(keyword) ? QString() : prepared(keyword));
    m_automaton = std::make_shared<const KeywordAutomaton>(patterns);
}

QString MessageJudge::prepared(const QString& text) const
{
    return m_loose ? foldForMatch(trimSpaces(text)) : trimSpaces(text);
}

QString MessageJudge::judge(const QString& subject, const QString& sender) const
{
    int found = m_automaton->firstIn(prepared(subject));
    if (found < 0)
        found = m_automaton->firstIn(prepared(sender));
    if (found < 0 || (!m_allow.isEmpty() && m_allow.allows(senderAddress(sender))))
        return {};
    return m_keywords.at(found);
}

QString removeKeyword(const QString& keyword)
{
    QList<int> numbers;
    int n = 0;
    QString error = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        ++n;
        if (record.InUse != 0 && record.KeywordReadable && trimSpaces(record.Keyword) == keyword)
            numbers.append(n);
        return true;
    });
    for (qsizetype i = 0; error.isEmpty() && i < numbers.size(); ++i)
        error = KeywordFile::MarkKeywordRecord(numbers.at(i));
    if (error.isEmpty() && !numbers.isEmpty())
        error = KeywordFile::CompactKeywordFile();
    return error;
}
