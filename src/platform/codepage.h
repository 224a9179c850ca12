// Conversion between Unicode text and the bytes of a Windows code page.
// The one place in the program that converts: nothing else calls iconv,
// MultiByteToWideChar or QStringDecoder. Standard library only, so that it
// also builds with the MinGW cross compiler.
#pragma once

#include <string>
#include <string_view>

namespace Inkwell::CodePage {

// The code page the system uses for "ANSI" bytes: GetACP() on Windows; on
// other systems 936 unless INKWELL_CODEPAGE names another number.
int systemAnsi();

// True when this build can convert the given code page (936, 1252, 1250, 932,
// 950, 949, 1251, ..., 65001 for UTF-8).
bool isSupported(int codePage);

struct Decoded {
    std::u16string text;
    // False when some bytes were not valid in the code page (they are decoded
    // as U+FFFD, one per bad byte) or the input ended inside a character.
    bool clean = true;
};

struct Encoded {
    std::string bytes;
    // False when some character had no representation and was written as '?'.
    // Code page 936 writes such characters as their GB18030 four-byte
    // sequence instead, so it is always lossless.
    bool lossless = true;
};

Decoded decode(std::string_view bytes, int codePage);
Encoded encode(std::u16string_view text, int codePage);

// Windows character set number (as used in fonts, RTF \fcharsetN) to the
// code page that encodes it; 0 when the charset implies no code page
// (ANSI_CHARSET 0 is 1252, DEFAULT_CHARSET 1 returns 0 so that the caller
// keeps its own default, SYMBOL_CHARSET 2 returns 0).
int fromCharset(int charset);
// The character set that names a code page in fonts (RTF \fcharsetN); 0
// (ANSI_CHARSET) for 1252 and for code pages no charset names.
int toCharset(int codePage);

// Code pages whose characters take one or two bytes (932, 936, 949, 950).
bool isDoubleByte(int codePage);

// Han, kana, hangul, CJK symbols and full-width forms: text that takes the
// East-Asian font of a run.
bool isCjk(char16_t unit);

} // namespace Inkwell::CodePage
