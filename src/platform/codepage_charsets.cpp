// What every backend shares: the Windows character-set table and the
// character classes. Standard library only.
#include "codepage.h"

#include "codepage_dbcs.h"

namespace Inkwell::CodePage {

namespace {

struct CharsetRow {
    int charset;
    int codePage;
};

// Windows character sets and the code page that encodes each.
constexpr CharsetRow charsets[] = {
    {0, 1252},   // ANSI_CHARSET
    {77, 10000}, // MAC_CHARSET
    {128, 932},  // SHIFTJIS_CHARSET
    {129, 949},  // HANGUL_CHARSET
    {130, 1361}, // JOHAB_CHARSET
    {134, 936},  // GB2312_CHARSET
    {136, 950},  // CHINESEBIG5_CHARSET
    {161, 1253}, // GREEK_CHARSET
    {162, 1254}, // TURKISH_CHARSET
    {163, 1258}, // VIETNAMESE_CHARSET
    {177, 1255}, // HEBREW_CHARSET
    {178, 1256}, // ARABIC_CHARSET
    {186, 1257}, // BALTIC_CHARSET
    {204, 1251}, // RUSSIAN_CHARSET
    {222, 874},  // THAI_CHARSET
    {238, 1250}, // EASTEUROPE_CHARSET
};

} // namespace

int fromCharset(int charset)
{
    // DEFAULT_CHARSET, SYMBOL_CHARSET, OEM and unknown ones name no code page.
    for (const CharsetRow &row : charsets)
        if (row.charset == charset)
            return row.codePage;
    return 0;
}

int toCharset(int codePage)
{
    for (const CharsetRow &row : charsets)
        if (row.codePage == codePage)
            return row.charset;
    return 0;
}

bool isDoubleByte(int codePage)
{
    return Dbcs::isDoubleByte(codePage);
}

bool isCjk(char16_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFFEF);
}

} // namespace Inkwell::CodePage
