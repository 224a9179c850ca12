// RTF bytes to tokens, with no knowledge of what any keyword means: the
// reader decides that. The only word the tokenizer knows is \binN, because
// its data must be skipped by count (it may hold braces and backslashes).
#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <string_view>

namespace Inkwell::Rtf {

struct Token {
    enum class Type : std::uint8_t {
        End,           // no more input
        GroupStart,    // {
        GroupEnd,      // } (balanced or not: the reader keeps count)
        ControlWord,   // \word or \wordN: `text` is the word, cut to maxWordLength letters
        ControlSymbol, // \ and one character that is not a letter, in `symbol`
        Hex,           // \'xx: `value` is the byte, or -1 when two hex digits do not follow
        Text,          // bytes other than { } \ CR LF NUL, in `text`
        Binary,        // \binN: `text` is its data, the N bytes after it (fewer at the end)
    };
    Type type = Type::End;
    std::string_view text;
    bool hasParam = false; // ControlWord: digits followed the word
    int value = 0;         // ControlWord: the parameter (clamped to int); Hex: the byte
    char symbol = 0;       // ControlSymbol

    bool operator==(const Token &) const = default;
};

// The value of a hex digit, or -1.
int hexDigit(char c);

class Tokenizer {
public:
    // Longer words are cut: no keyword is this long, and a hostile one
    // would otherwise be compared and hashed in full.
    static constexpr int maxWordLength = 32;

    explicit Tokenizer(QByteArrayView data) : m_p(data.data()), m_end(data.data() + data.size()) {}

    // The next token; End for ever once the input is used up. CR, LF and NUL
    // between tokens are dropped (they only wrap lines in RTF), and so is a
    // lone backslash at the very end.
    Token next();
    // Where the next token begins: right after the "{" or "}" just returned.
    const char *position() const { return m_p; }

private:
    Token controlWord();

    const char *m_p;
    const char *m_end;
};

} // namespace Inkwell::Rtf
