#include "config/CStringTokenizer.h"

CStringTokenizer::CStringTokenizer(const std::string& text, const std::string& delimiters)
    : m_length(static_cast<int>(text.size())), m_text(text), m_delimiters(delimiters) {}

std::string CStringTokenizer::NextToken() {
    while (m_position < m_length && IsDelimiter(m_text[m_position])) {
        ++m_position;
    }
    if (m_position >= m_length) {
        return std::string();
    }
    const int start = m_position;
    while (m_position < m_length && !IsDelimiter(m_text[m_position])) {
        ++m_position;
    }
    return m_text.substr(start, m_position - start);
}
