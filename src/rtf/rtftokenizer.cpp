#include "rtf/rtftokenizer.h"

#include <algorithm>
#include <cstdint>

namespace Inkwell::Rtf {

namespace {

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

Token Tokenizer::next()
{
    Token token;
    while (m_p < m_end) {
        const char c = *m_p;
        switch (c) {
        case '{':
            ++m_p;
            token.type = Token::Type::GroupStart;
            return token;
        case '}':
            ++m_p;
            token.type = Token::Type::GroupEnd;
            return token;
        case '\r':
        case '\n':
        case '\0':
            ++m_p;
            continue;
        case '\\':
            if (m_p + 1 >= m_end) {
                m_p = m_end;
                return token;
            }
            if (isLetter(m_p[1]))
                return controlWord();
            m_p += 2;
            if (m_p[-1] == '\'') {
                // \'xx: a byte in the code page of the current font. Two
                // characters that are no hex number are taken and give
                // nothing, as LibreOffice reads them; braces and backslashes
                // are not taken.
                token.type = Token::Type::Hex;
                token.value = -1;
                if (m_end - m_p >= 2) {
                    const int high = hexDigit(m_p[0]);
                    const int low = hexDigit(m_p[1]);
                    if (high >= 0 && low >= 0) {
                        token.value = high * 16 + low;
                        m_p += 2;
                        return token;
                    }
                }
                for (int i = 0; i < 2 && m_p < m_end && *m_p != '{' && *m_p != '}' && *m_p != '\\';
                     ++i)
                    ++m_p;
                return token;
            }
            token.type = Token::Type::ControlSymbol;
            token.symbol = m_p[-1];
            return token;
        default: {
            const char *start = m_p;
            while (m_p < m_end && *m_p != '{' && *m_p != '}' && *m_p != '\\' && *m_p != '\r' &&
                   *m_p != '\n' && *m_p != '\0')
                ++m_p;
            token.type = Token::Type::Text;
            token.text = std::string_view(start, size_t(m_p - start));
            return token;
        }
        }
    }
    return token;
}

Token Tokenizer::controlWord()
{
    Token token;
    token.type = Token::Type::ControlWord;
    ++m_p; // the backslash
    const char *start = m_p;
    while (m_p < m_end && isLetter(*m_p))
        ++m_p;
    token.text =
        std::string_view(start, size_t(std::min<std::ptrdiff_t>(m_p - start, maxWordLength)));
    bool negative = false;
    long long value = 0;
    if (m_p < m_end && *m_p == '-' && m_p + 1 < m_end && isDigit(m_p[1])) {
        negative = true;
        ++m_p;
    }
    while (m_p < m_end && isDigit(*m_p)) {
        token.hasParam = true;
        if (value < 100000000000LL)
            value = value * 10 + (*m_p - '0');
        ++m_p;
    }
    // One space ends the word and belongs to it.
    if (m_p < m_end && *m_p == ' ')
        ++m_p;
    if (negative)
        value = -value;
    token.value = int(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
    if (token.text == "bin") {
        // The data is taken by count, whatever it holds.
        const std::ptrdiff_t count = token.hasParam && token.value > 0 ? token.value : 0;
        const std::ptrdiff_t available = std::min(count, m_end - m_p);
        token.type = Token::Type::Binary;
        token.text = std::string_view(m_p, size_t(available));
        m_p += available;
    }
    return token;
}

} // namespace Inkwell::Rtf
