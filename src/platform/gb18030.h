// GB18030 four-byte forms: how code page 936 writes the characters GBK lacks.
// Standard library only, shared by every converter backend so that each
// writes and reads these forms alike (the Win32 one cannot rely on code page
// 54936 being installed).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Inkwell::CodePage::Gb18030 {

// True when the four bytes at `p` have the shape of a four-byte sequence.
bool isFourByte(const unsigned char *p, std::size_t left);

// The code point of a four-byte sequence, or 0 when it names none.
char32_t decodeFourByte(const unsigned char *p);

// Writes the four-byte form of a code point to `out`; false when it has none
// (ASCII, a surrogate, or a character GBK's two-byte forms already hold).
bool encodeFourByte(char32_t codePoint, unsigned char out[4]);

} // namespace Inkwell::CodePage::Gb18030
