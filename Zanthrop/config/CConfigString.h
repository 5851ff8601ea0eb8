// Reads one value out of a sectioned configuration text: "[SECTION]KEY:VALUE;KEY:VALUE;[...]...".
// There is no quoting, escaping or whitespace handling; names, keys and values are matched
// byte for byte. The reader is immutable and scans the whole text on every lookup.
#pragma once

#include <string>

class CConfigString {
public:
    explicit CConfigString(const std::string& text) : m_text(text) {}

    // The value stored under key in the first section named section that holds the key, or the
    // empty string (missing section or key, empty key, empty value or a key with nothing after it).
    //
    // Sections are recognised by their place in the bracket-split text, not by their brackets:
    // any bracket-split token without ':' and ';' may act as a section name, and the token that
    // follows a matching name is its body, whatever it is. Within a body every token (keys and
    // values alike) is compared with the key and the token after the first equal one is the result.
    std::string GetValue(const std::string& section, const std::string& key) const;

private:
    std::string m_text;
};

// The first element of a comma-separated list value; leading commas are skipped.
std::string FirstListElement(const std::string& value);
