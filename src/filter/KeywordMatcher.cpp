#include "filter/KeywordMatcher.h"

#include <algorithm>

namespace {

constexpr std::int32_t kNoChild = -1;
constexpr std::size_t kUnitCount = 0x10000;
// Up to this many children a node's children are searched one by one, beyond by halving.
constexpr std::int32_t kLinearChildren = 8;
// A code unit that cannot be lower-cased on its own.
constexpr std::int32_t kNeedsText = -1;

// The lower case that QString::toLower gives each code unit within any text, since it maps
// every character on its own; kNeedsText for a surrogate, and for a character whose lower case
// is longer (U+0130 becomes i and a combining dot).
const std::vector<std::int32_t> &lowerUnits()
{
    static const std::vector<std::int32_t> table = [] {
        std::vector<std::int32_t> lower(kUnitCount, kNeedsText);
        for (std::size_t unit = 0; unit < kUnitCount; ++unit) {
            const QChar c(static_cast<char16_t>(unit));
            const QString lowered = QString(c).toLower();
            if (!c.isSurrogate() && lowered.size() == 1)
                lower[unit] = lowered[0].unicode();
        }
        return lower;
    }();
    return table;
}

} // namespace

KeywordMatcher::KeywordMatcher(const QStringList &keywords) : m_symbolOf(kUnitCount, 0)
{
    std::vector<std::u16string> lowerByRow(keywords.size());
    for (qsizetype row = 0; row < keywords.size(); ++row) {
        const QString lower = keywords[row].toLower();
        lowerByRow[row].assign(reinterpret_cast<const char16_t *>(lower.utf16()),
                               static_cast<std::size_t>(lower.size()));
        for (const char16_t unit : lowerByRow[row])
            m_symbolOf[unit] = 1;
    }
    for (std::int32_t &symbol : m_symbolOf) {
        if (symbol != 0)
            symbol = m_symbolCount++;
    }
    const std::vector<std::int32_t> &lower = lowerUnits();
    m_symbolOfUnlowered.resize(kUnitCount);
    for (std::size_t unit = 0; unit < kUnitCount; ++unit)
        m_symbolOfUnlowered[unit] =
            lower[unit] == kNeedsText ? kNeedsText : m_symbolOf[lower[unit]];

    // Rows sorted by lower-cased keyword, then by row: equal keywords become one pattern, which
    // reports all their rows in ascending order.
    std::vector<std::int32_t> order;
    order.reserve(lowerByRow.size());
    for (std::size_t row = 0; row < lowerByRow.size(); ++row) {
        if (!lowerByRow[row].empty())
            order.push_back(static_cast<std::int32_t>(row));
    }
    std::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        const int compared = lowerByRow[a].compare(lowerByRow[b]);
        return compared != 0 ? compared < 0 : a < b;
    });
    std::vector<std::u16string> patterns;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (patterns.empty() || patterns.back() != lowerByRow[order[i]]) {
            patterns.push_back(std::move(lowerByRow[order[i]]));
            m_rowStart.push_back(static_cast<std::int32_t>(i));
        }
    }
    m_rowStart.push_back(static_cast<std::int32_t>(order.size()));
    m_rows = std::move(order);

    buildTrie(patterns);
    linkFailures();
    m_seen.assign(patterns.size(), 0);
}

// Builds the trie level by level from the sorted patterns: the patterns below a node are a
// run of the sorted list, and the runs that share their next code unit are its children.
void KeywordMatcher::buildTrie(const std::vector<std::u16string> &patterns)
{
    struct Run
    {
        std::int32_t first;
        std::int32_t end;
        std::int32_t depth;
    };
    // A trie has at most one node per code unit of its patterns, and the root.
    std::size_t bound = 1;
    for (const std::u16string &pattern : patterns)
        bound += pattern.size();
    std::vector<Run> runs;
    runs.reserve(bound);
    runs.push_back({0, static_cast<std::int32_t>(patterns.size()), 0});
    m_nodes.reserve(bound);
    m_symbol.reserve(bound);
    m_symbol.push_back(0);
    for (std::size_t node = 0; node < runs.size(); ++node) {
        auto [first, end, depth] = runs[node];
        Node &made = m_nodes.emplace_back();
        // Sorted, the pattern that ends here comes first.
        if (first < end && patterns[first].size() == static_cast<std::size_t>(depth))
            made.pattern = first++;
        made.firstChild = static_cast<std::int32_t>(runs.size());
        while (first < end) {
            const char16_t unit = patterns[first][depth];
            std::int32_t last = first + 1;
            while (last < end && patterns[last][depth] == unit)
                ++last;
            runs.push_back({first, last, depth + 1});
            m_symbol.push_back(m_symbolOf[unit]);
            first = last;
        }
        made.childCount = static_cast<std::int32_t>(runs.size()) - made.firstChild;
    }
}

// Breadth first, so that the failure of a node, on a shallower level, is complete before the
// node's own children need it.
void KeywordMatcher::linkFailures()
{
    for (std::size_t n = 0; n < m_nodes.size(); ++n) {
        Node &node = m_nodes[n];
        if (node.pattern >= 0)
            node.ending = static_cast<std::int32_t>(n);
        else if (n != 0)
            node.ending = m_nodes[node.failure].ending;

        // A dense row costs one state per symbol: only a node with children for a quarter of
        // the symbols or more gets one, so rows never take more than four times the trie.
        if (n == 0 || (node.childCount > kLinearChildren && node.childCount * 4 >= m_symbolCount)) {
            node.denseRow = static_cast<std::int32_t>(m_dense.size() / m_symbolCount);
            m_dense.resize(m_dense.size() + m_symbolCount, 0);
            std::int32_t *row = &m_dense[node.denseRow * m_symbolCount];
            for (std::int32_t symbol = 1; symbol < m_symbolCount; ++symbol) {
                const int next = child(static_cast<int>(n), symbol);
                row[symbol] = next != kNoChild ? next : n == 0 ? 0 : step(node.failure, symbol);
            }
        }

        for (std::int32_t c = node.firstChild; c < node.firstChild + node.childCount; ++c)
            m_nodes[c].failure = n == 0 ? 0 : step(node.failure, m_symbol[c]);
    }
}

int KeywordMatcher::child(int node, std::int32_t symbol) const
{
    const Node &parent = m_nodes[node];
    const auto first = m_symbol.begin() + parent.firstChild;
    const auto last = first + parent.childCount;
    if (parent.childCount <= kLinearChildren) {
        for (auto it = first; it != last; ++it) {
            if (*it == symbol)
                return static_cast<int>(it - m_symbol.begin());
        }
        return kNoChild;
    }
    const auto it = std::lower_bound(first, last, symbol);
    return it != last && *it == symbol ? static_cast<int>(it - m_symbol.begin()) : kNoChild;
}

// The state after one more symbol: the node of the longest keyword prefix that ends the text
// read so far. The root is dense, so the walk along the failure chain always ends.
int KeywordMatcher::step(int node, std::int32_t symbol) const
{
    for (;;) {
        const Node &at = m_nodes[node];
        if (at.denseRow >= 0)
            return m_dense[at.denseRow * m_symbolCount + symbol];
        if (const int next = child(node, symbol); next != kNoChild)
            return next;
        node = at.failure;
    }
}

// Adds the patterns found in the text that this search has not found yet. Most texts are read
// as they stand, each code unit lower-cased through the symbols; a text with a surrogate or a
// character whose lower case is longer is lower-cased whole and read again, and what the first
// reading found is not found twice.
void KeywordMatcher::collect(const QString &text, QList<int> &patterns)
{
    if (!walk(text, m_symbolOfUnlowered, patterns))
        walk(text.toLower(), m_symbolOf, patterns);
}

// A node already seen in this search had its whole chain of endings seen with it, so the walk
// stops there, and a text full of repeats costs no more than one that holds each keyword once.
bool KeywordMatcher::walk(const QString &text, const std::vector<std::int32_t> &symbolOf,
                          QList<int> &patterns)
{
    int node = 0;
    for (const QChar c : text) {
        const std::int32_t symbol = symbolOf[c.unicode()];
        if (symbol == kNeedsText)
            return false;
        if (symbol == 0) {
            node = 0;
            continue;
        }
        node = step(node, symbol);
        for (std::int32_t ending = m_nodes[node].ending;
             ending != 0 && m_seen[m_nodes[ending].pattern] != m_search;
             ending = m_nodes[m_nodes[ending].failure].ending) {
            m_seen[m_nodes[ending].pattern] = m_search;
            patterns.append(m_nodes[ending].pattern);
        }
    }
    return true;
}

QList<int> KeywordMatcher::rowsFoundIn(const QString &name, const QString &address)
{
    if (++m_search == 0) {
        std::fill(m_seen.begin(), m_seen.end(), 0);
        m_search = 1;
    }
    QList<int> patterns;
    // Without a non-empty keyword there is nothing to search for.
    if (!m_seen.empty()) {
        collect(name, patterns);
        collect(address, patterns);
    }

    QList<int> rows;
    for (const int pattern : patterns) {
        for (std::int32_t r = m_rowStart[pattern]; r < m_rowStart[pattern + 1]; ++r)
            rows.append(m_rows[r]);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}
