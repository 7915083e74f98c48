#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Finds, in one pass over a text, every keyword of a list that occurs in it, ignoring case.
//
// The rule is the one of a plain scan that lower-cases both sides with QString::toLower and
// searches the keyword in the text, code unit by code unit: a keyword occurs in a text when its
// lower case is a substring of the text's lower case. An empty keyword (a stray comma in a
// hand-edited file) occurs nowhere: it would close every page. Keywords are neither trimmed nor
// read as patterns.
//
// The keywords are lower-cased once, when the matcher is built, and compiled into an
// Aho-Corasick automaton, so a search costs one step per code unit of the text whatever the
// number of keywords. Equal keywords share one state and report all their rows.
class KeywordMatcher
{
public:
    // keywords in list order; a keyword's row is its index.
    explicit KeywordMatcher(const QStringList &keywords);

    // The rows, ascending, of the keywords that occur in the name or in the address. A row
    // occurring in both is listed once.
    QList<int> rowsFoundIn(const QString &name, const QString &address);

private:
    void buildTrie(const std::vector<std::u16string> &patterns);
    void linkFailures();
    int child(int node, std::int32_t symbol) const;
    int step(int node, std::int32_t symbol) const;
    void collect(const QString &text, QList<int> &patterns);
    bool walk(const QString &text, const std::vector<std::int32_t> &symbolOf, QList<int> &patterns);

    // Each code unit of a lower-cased text that some keyword holds has a symbol, from 1 up in
    // code unit order; the others have 0, which sends any state straight back to the root.
    std::vector<std::int32_t> m_symbolOf;
    // The symbol of each code unit's lower case, for texts read without lower-casing them.
    std::vector<std::int32_t> m_symbolOfUnlowered;
    std::int32_t m_symbolCount = 1;

    // A node of the trie. The nodes are numbered breadth first, so the children of a node are
    // consecutive and sorted by symbol; node 0 is the root.
    struct Node
    {
        std::int32_t firstChild = 0;
        std::int32_t childCount = 0;
        std::int32_t failure = 0;
        // The first node, from this one along the failure chain, that ends a keyword; 0 for
        // none.
        std::int32_t ending = 0;
        // The keyword the node ends, or -1.
        std::int32_t pattern = -1;
        // The root and the nodes with many children have a row of m_dense, one state per
        // symbol, where a missing child is already replaced by the state its failure chain
        // leads to. Other nodes have -1.
        std::int32_t denseRow = -1;
    };
    std::vector<Node> m_nodes;
    // The symbol that leads to each node from its parent.
    std::vector<std::int32_t> m_symbol;
    std::vector<std::int32_t> m_dense;

    // The rows of each distinct keyword: m_rows[m_rowStart[p] .. m_rowStart[p + 1]).
    std::vector<std::int32_t> m_rowStart;
    std::vector<std::int32_t> m_rows;

    // Marks the keywords already found in the current search.
    std::vector<std::uint32_t> m_seen;
    std::uint32_t m_search = 0;
};
