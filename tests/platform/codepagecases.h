// The code-page cases every converter backend must pass: iconv's (tested with
// QtTest) and Win32's (cross-compiled with MinGW and run under Wine, with no
// Qt). Standard library only.
#pragma once

#include <string>
#include <vector>

namespace Inkwell::Testing {

struct CodePageCase {
    const char *name;
    int codePage;
    std::string bytes;
    std::u16string text;
};

// Bytes and text that convert into each other exactly, both ways.
inline std::vector<CodePageCase> roundTripCases()
{
    using namespace std::string_literals;
    return {
        {"936: ascii", 936, "abc\r\n", u"abc\r\n"},
        {"936: 中文", 936, "\xd6\xd0\xce\xc4", u"中文"},
        {"936: euro is 0x80", 936, "\x80", u"€"},
        {"936: outside GBK as GB18030", 936, "\x94\x39\xfc\x36", u"\U0001F600"},
        {"936: U+0080 as GB18030", 936, "\x81\x30\x81\x30", u"\u0080"},
        {"936: Thai as GB18030", 936, "\x81\x32\xCE\x39", u"\u0E01"},
        {"936: GBK then four bytes then GBK", 936, "\xd6\xd0\x94\x39\xfc\x36\xce\xc4",
         u"中\U0001F600文"},
        {"1252: é", 1252, "caf\xe9", u"café"},
        {"1250: č", 1250, "\xe8", u"č"},
        {"932: 日本", 932, "\x93\xfa\x96\x7b", u"日本"},
        {"65001: 中", 65001, "\xe4\xb8\xad", u"中"},
        {"936: empty", 936, "", u""},
        {"936: NUL kept", 936, "a\0b"s, u"a\0b"s},
    };
}

// Bytes that are not valid in code page 936: each bad byte reads as U+FFFD
// and the result is reported unclean.
inline std::vector<CodePageCase> badInputCases()
{
    return {
        {"lone FF", 936,
         "a\xff"
         "b",
         u"a\uFFFDb"},
        {"trailing lead byte", 936, "ab\xd6", u"ab\uFFFD"},
        {"lead then blank", 936, "\xd6 a", u"\uFFFD a"},
    };
}

} // namespace Inkwell::Testing
