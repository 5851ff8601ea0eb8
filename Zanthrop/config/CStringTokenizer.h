// Splits a text into maximal runs of non-delimiter characters.
#pragma once

#include <string>

class CStringTokenizer {
public:
    // Works on its own copies of text and delimiters; every character of delimiters is one delimiter.
    CStringTokenizer(const std::string& text, const std::string& delimiters);

    // The next token, or the empty string once the text is exhausted (and on every later call).
    // Leading, trailing and adjacent delimiters produce no empty tokens.
    std::string NextToken();

private:
    bool IsDelimiter(char c) const { return m_delimiters.find(c) != std::string::npos; }

    int m_position = 0;
    int m_length = 0;
    std::string m_text;
    std::string m_delimiters;
};
