#include "module/RegistrationScript.h"

#include <cctype>
#include <cstring>

namespace registration {

namespace {

// Nesting deeper than this is not a script of ours; the limit keeps recursion bounded.
constexpr int kMaxDepth = 32;

bool SameText(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

bool Substitute(const std::string& script, const Replacements& replacements, std::string& out, std::string& error) {
    out.clear();
    out.reserve(script.size());
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] != '%') {
            out += script[i];
            continue;
        }
        const size_t end = script.find('%', i + 1);
        if (end == std::string::npos) {
            error = "a '%' without its closing '%'";
            return false;
        }
        const std::string name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += '%';
        } else {
            bool found = false;
            for (const auto& replacement : replacements) {
                if (SameText(replacement.first, name.c_str())) {
                    out += replacement.second;
                    found = true;
                    break;
                }
            }
            if (!found) {
                error = "no replacement for %" + name + "%";
                return false;
            }
        }
        i = end;
    }
    return true;
}

struct Token {
    enum Kind { End, Word, Quoted, OpenBrace, CloseBrace, Equals } kind = End;
    std::string text;
    int line = 1;
};

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) { Advance(); }

    ParsedScript Read() {
        ParsedScript result;
        while (m_token.kind != Token::End && m_error.empty()) {
            ScriptRoot root;
            if (m_token.kind != Token::Word || (root.root = RootKey(m_token.text)) == nullptr) {
                Fail("a root key (HKCR, HKLM or HKCU)");
                break;
            }
            Advance();
            if (!Expect(Token::OpenBrace, "'{'")) break;
            ReadKeys(root.keys, 1);
            if (!m_error.empty() || !Expect(Token::CloseBrace, "'}'")) break;
            result.roots.push_back(std::move(root));
        }
        if (!m_error.empty()) return ParsedScript{{}, m_error};
        return result;
    }

private:
    static HKEY RootKey(const std::string& name) {
        if (SameText(name, "HKCR") || SameText(name, "HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
        if (SameText(name, "HKLM") || SameText(name, "HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
        if (SameText(name, "HKCU") || SameText(name, "HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
        return nullptr;
    }

    // Keys and values up to the closing brace of the enclosing level.
    void ReadKeys(std::vector<ScriptKey>& keys, int depth, std::vector<ScriptValue>* values = nullptr) {
        if (depth > kMaxDepth) {
            Fail("keys nested less deeply");
            return;
        }
        while (m_error.empty() && m_token.kind != Token::CloseBrace) {
            if (m_token.kind == Token::End) {
                Fail("'}'");
                return;
            }
            if (m_token.kind == Token::Word && SameText(m_token.text, "val")) {
                if (values == nullptr) {
                    Fail("a key (a named value needs a key to belong to)");
                    return;
                }
                Advance();
                ScriptValue value;
                if (!Name(value.name) || !Expect(Token::Equals, "'='") || !TextData(value.data)) return;
                values->push_back(std::move(value));
                continue;
            }
            ScriptKey key;
            if (m_token.kind == Token::Word && SameText(m_token.text, "NoRemove")) {
                key.removal = Removal::NoRemove;
                Advance();
            } else if (m_token.kind == Token::Word && SameText(m_token.text, "ForceRemove")) {
                key.removal = Removal::ForceRemove;
                Advance();
            }
            if (!Name(key.name)) return;
            if (key.name.empty() || key.name.find('\\') != std::string::npos) {
                Fail("a key name without backslashes");
                return;
            }
            if (m_token.kind == Token::Equals) {
                Advance();
                if (!TextData(key.defaultData)) return;
                key.hasDefault = true;
            }
            if (m_token.kind == Token::OpenBrace) {
                Advance();
                ReadKeys(key.subKeys, depth + 1, &key.values);
                if (!Expect(Token::CloseBrace, "'}'")) return;
            }
            keys.push_back(std::move(key));
        }
    }

    bool Name(std::string& name) {
        if (m_token.kind != Token::Word && m_token.kind != Token::Quoted) return Fail("a name");
        name = m_token.text;
        Advance();
        return true;
    }

    // "s 'text'": the only value type our scripts use.
    bool TextData(std::string& data) {
        if (m_token.kind != Token::Word) return Fail("a value type");
        if (!SameText(m_token.text, "s")) return Fail("value type s (text)");
        Advance();
        if (m_token.kind != Token::Quoted) return Fail("quoted text");
        data = m_token.text;
        Advance();
        return true;
    }

    bool Expect(Token::Kind kind, const char* what) {
        if (m_token.kind != kind) return Fail(what);
        Advance();
        return true;
    }

    bool Fail(const std::string& expected) {
        if (m_error.empty()) {
            m_error = "line " + std::to_string(m_token.line) + ": expected " + expected;
            if (!m_lexError.empty()) m_error = "line " + std::to_string(m_token.line) + ": " + m_lexError;
        }
        m_token.kind = Token::End;
        return false;
    }

    void Advance() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos]))) {
            if (m_text[m_pos] == '\n') ++m_line;
            ++m_pos;
        }
        m_token = Token{};
        m_token.line = m_line;
        if (m_pos >= m_text.size()) return;
        const char c = m_text[m_pos];
        if (c == '\'') {
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size()) {
                    m_lexError = "quoted text without its closing quote";
                    m_token.kind = Token::End;
                    Fail("");
                    return;
                }
                if (m_text[m_pos] == '\'') {
                    if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\'') {
                        m_token.text += '\'';
                        m_pos += 2;
                        continue;
                    }
                    ++m_pos;
                    break;
                }
                if (m_text[m_pos] == '\n') ++m_line;
                m_token.text += m_text[m_pos++];
            }
            m_token.kind = Token::Quoted;
            return;
        }
        // Anything else runs to the next white space: "{", "}" and "=" are tokens only when they
        // stand alone, so "{A3F1...}" is a name.
        const size_t start = m_pos;
        while (m_pos < m_text.size() && !std::isspace(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
        m_token.text = m_text.substr(start, m_pos - start);
        m_token.kind = m_token.text == "{"   ? Token::OpenBrace
                       : m_token.text == "}" ? Token::CloseBrace
                       : m_token.text == "=" ? Token::Equals
                                             : Token::Word;
    }

    const std::string& m_text;
    size_t m_pos = 0;
    int m_line = 1;
    Token m_token;
    std::string m_error;
    std::string m_lexError;
};

}  // namespace

ParsedScript ParseScript(const std::string& script, const Replacements& replacements) {
    std::string text;
    std::string error;
    if (!Substitute(script, replacements, text, error)) return ParsedScript{{}, error};
    return Reader(text).Read();
}

std::string QuoteForScript(const std::string& text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted;
}

}  // namespace registration
