#include "config/CConfigString.h"

#include "config/CStringTokenizer.h"

namespace {

bool CanNameSection(const std::string& token) {
    return token.find(':') == std::string::npos && token.find(';') == std::string::npos;
}

// Looks the key up among the tokens of one section body; found tells whether it occurred.
std::string FindInBody(const std::string& body, const std::string& key, bool& found) {
    CStringTokenizer inner(body, ":;");
    for (std::string token = inner.NextToken(); !token.empty(); token = inner.NextToken()) {
        if (token == key) {
            found = true;
            return inner.NextToken();
        }
    }
    return std::string();
}

}  // namespace

std::string CConfigString::GetValue(const std::string& section, const std::string& key) const {
    CStringTokenizer outer(m_text, "[]");
    for (std::string token = outer.NextToken(); !token.empty(); token = outer.NextToken()) {
        if (CanNameSection(token) && token == section && !key.empty()) {
            bool found = false;
            std::string value = FindInBody(outer.NextToken(), key, found);
            if (found) {
                return value;
            }
        }
    }
    return std::string();
}

std::string FirstListElement(const std::string& value) { return CStringTokenizer(value, ",").NextToken(); }
