// The encrypted text format: the plain-text image of the document with every
// byte exclusive-or'ed with one fixed key. It hides text from a casual look;
// it is not encryption.
#pragma once

#include <QByteArray>

namespace Inkwell {

constexpr unsigned char scrambleKey = 0x5E;

constexpr unsigned char ByteScramble(unsigned char byte)
{
    return byte ^ scrambleKey;
}

// The same routine serves both directions, since the exclusive-or undoes itself.
inline void scrambleInPlace(QByteArray &bytes)
{
    char *p = bytes.data();
    for (qsizetype i = 0, n = bytes.size(); i < n; ++i)
        p[i] = char(ByteScramble(static_cast<unsigned char>(p[i])));
}

} // namespace Inkwell
