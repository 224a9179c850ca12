// The Win32 code-page backend (MultiByteToWideChar / WideCharToMultiByte)
// against the same cases as the iconv backend, under Wine with the Chinese
// ANSI code page. Standard library only: built with the MinGW cross compiler.
// Prints one line per check and exits with the number of failed checks.
#include "platform/codepage.h"
#include "platform/codepagecases.h"

#include <cstdio>
#include <string>

using namespace Inkwell;
using Inkwell::Testing::CodePageCase;

namespace {

int passed = 0;
int failed = 0;

std::string hex(const std::string &bytes)
{
    std::string out;
    char cell[4];
    for (unsigned char b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", b);
        out += cell;
    }
    return out;
}

std::string units(const std::u16string &text)
{
    std::string out;
    char cell[6];
    for (char16_t u : text) {
        std::snprintf(cell, sizeof cell, "%04X ", unsigned(u));
        out += cell;
    }
    return out;
}

void check(bool ok, const std::string &what, const std::string &detail = {})
{
    std::printf("%s - %s%s%s\n", ok ? "ok" : "not ok", what.c_str(), ok ? "" : ": ",
                ok ? "" : detail.c_str());
    (ok ? passed : failed) += 1;
}

} // namespace

int main()
{
    check(CodePage::systemAnsi() == 936, "the ANSI code page is 936",
          std::to_string(CodePage::systemAnsi()));

    for (const CodePageCase &row : Testing::roundTripCases()) {
        const CodePage::Decoded decoded = CodePage::decode(row.bytes, row.codePage);
        check(decoded.text == row.text && decoded.clean, std::string("decode ") + row.name,
              units(decoded.text) + (decoded.clean ? "" : "(unclean)"));
        const CodePage::Encoded encoded = CodePage::encode(row.text, row.codePage);
        check(encoded.bytes == row.bytes && encoded.lossless, std::string("encode ") + row.name,
              hex(encoded.bytes) + (encoded.lossless ? "" : "(lossy)"));
    }
    for (const CodePageCase &row : Testing::badInputCases()) {
        const CodePage::Decoded decoded = CodePage::decode(row.bytes, row.codePage);
        check(decoded.text == row.text && !decoded.clean, std::string("bad input: ") + row.name,
              units(decoded.text) + (decoded.clean ? "(clean)" : ""));
    }

    const CodePage::Encoded lossy = CodePage::encode(u"a中b", 1252);
    check(lossy.bytes == "a?b" && !lossy.lossless, "1252 writes ? for 中 and says so",
          hex(lossy.bytes));
    const CodePage::Encoded lone = CodePage::encode(std::u16string(1, char16_t(0xD800)), 936);
    check(!lone.lossless, "a lone surrogate is not lossless in 936", hex(lone.bytes));

    // A long mixed text: every character back, GB18030 forms between table ones.
    std::u16string text;
    for (int i = 0; i < 20000; ++i)
        text += u"第行，中文 text \U0001F600 ก\r\n";
    const CodePage::Encoded big = CodePage::encode(text, 936);
    const CodePage::Decoded back = CodePage::decode(big.bytes, 936);
    check(big.lossless && back.clean && back.text == text, "a long mixed text round-trips");

    check(CodePage::fromCharset(134) == 936, "charset 134 is 936");
    check(CodePage::fromCharset(0) == 1252, "charset 0 is 1252");
    check(CodePage::fromCharset(128) == 932, "charset 128 is 932");
    check(CodePage::fromCharset(1) == 0, "charset 1 keeps the caller's");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed;
}
