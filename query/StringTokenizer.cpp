#include "query/StringTokenizer.h"

CStringTokenizer::CStringTokenizer(const std::string& text, char delimiter)
    : m_text(text.c_str()), m_delimiter(delimiter)
{
    // The text is taken as a C string would be: a zero character ends it.
    m_more = !m_text.empty();
}

bool CStringTokenizer::IsDelimiter(char c) const
{
    return c == m_delimiter || (m_delimiter == ' ' && c == '\t');
}

size_t CStringTokenizer::SkipDelimiters(size_t index) const
{
    while (index < m_text.size() && IsDelimiter(m_text[index]))
        ++index;
    return index;
}

int32_t CStringTokenizer::CountTokens() const
{
    if (!m_more)
        return 0;
    const bool blank = m_delimiter == ' ';
    size_t index = m_position;
    if (blank) {
        index = SkipDelimiters(index);
        if (index >= m_text.size())
            return 1;
    }
    int32_t count = 1;
    while (index < m_text.size()) {
        if (!IsDelimiter(m_text[index])) {
            ++index;
            continue;
        }
        index = blank ? SkipDelimiters(index) : index + 1;
        // A separator at the very end starts no token.
        if (index < m_text.size())
            ++count;
    }
    return count;
}

std::string CStringTokenizer::NextToken()
{
    if (!m_more)
        return std::string();
    if (m_delimiter == ' ') {
        m_position = SkipDelimiters(m_position);
    } else if (m_position < m_text.size() && IsDelimiter(m_text[m_position])) {
        ++m_position;
        return std::string();
    }
    size_t end = m_position;
    while (end < m_text.size() && !IsDelimiter(m_text[end]))
        ++end;
    std::string token = m_text.substr(m_position, end - m_position);
    if (end >= m_text.size()) {
        m_more = false;
        m_position = m_text.size();
    } else {
        m_position = end + 1;
    }
    return token;
}
