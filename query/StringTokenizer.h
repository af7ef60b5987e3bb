#pragma once
#include <cstdint>
#include <string>

// Splits a text at a delimiter character. A blank as delimiter also matches
// the tab character, and a run of blanks then counts as one separator; any
// other delimiter separates at every occurrence, so empty tokens arise.
class CStringTokenizer {
public:
    CStringTokenizer(const std::string& text, char delimiter);
    virtual ~CStringTokenizer() = default;

    // The number of tokens left; does not move the position.
    int32_t CountTokens() const;
    // The next token, or the empty text once none is left.
    std::string NextToken();

private:
    bool IsDelimiter(char c) const;
    // The first index from `index` on that is not a delimiter.
    size_t SkipDelimiters(size_t index) const;

    std::string m_text;     // own copy, up to the first zero character
    bool m_more = false;    // tokens remain
    size_t m_position = 0;  // where the next token starts
    char m_delimiter;
};
