// Code-page conversion through the Win32 API.
#include "codepage.h"

#include "codepage_dbcs.h"

#include <windows.h>

namespace Inkwell::CodePage {

namespace {

// The table of a double-byte code page, from the API one character at a
// time. MB_ERR_INVALID_CHARS keeps bytes that are no character out of it
// (the API's own decoding maps some to private-use characters and lets a
// stray lead byte swallow the byte after it).
std::unique_ptr<Dbcs::Table> buildTable(int codePage)
{
    const UINT cp = UINT(codePage);
    const auto decodeOne = [cp](const unsigned char *bytes, std::size_t n) -> char16_t {
        wchar_t out[4];
        const int units = MultiByteToWideChar(
            cp, MB_ERR_INVALID_CHARS, reinterpret_cast<const char *>(bytes), int(n), out, 4);
        return units == 1 ? char16_t(out[0]) : 0;
    };
    const auto encodeOne = [cp](char16_t unit) -> std::uint16_t {
        const wchar_t in = wchar_t(unit);
        unsigned char out[8];
        BOOL usedDefault = FALSE;
        const int n =
            WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, &in, 1, reinterpret_cast<char *>(out),
                                int(sizeof(out)), nullptr, &usedDefault);
        if (usedDefault || n < 1 || n > 2)
            return 0;
        return n == 1 ? out[0] : std::uint16_t(out[0] << 8 | out[1]);
    };
    return Dbcs::build(decodeOne, encodeOne);
}

const Dbcs::Table *dbcsTable(int codePage)
{
    if (!IsValidCodePage(UINT(codePage)))
        return nullptr;
    return Dbcs::tableFor(codePage, [codePage] { return buildTable(codePage); });
}

} // namespace

int systemAnsi()
{
    return int(GetACP());
}

bool isSupported(int codePage)
{
    return IsValidCodePage(UINT(codePage)) != 0;
}

Decoded decode(std::string_view bytes, int codePage)
{
    if (const Dbcs::Table *table = dbcsTable(codePage))
        return Dbcs::decode(*table, bytes, codePage);
    Decoded result;
    if (bytes.empty())
        return result;
    const int n = int(bytes.size());
    // MB_ERR_INVALID_CHARS tells whether the input was clean; convert again
    // without it to get the text with replacement characters.
    int units =
        MultiByteToWideChar(UINT(codePage), MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0);
    DWORD flags = MB_ERR_INVALID_CHARS;
    if (units == 0) {
        result.clean = false;
        flags = 0;
        units = MultiByteToWideChar(UINT(codePage), 0, bytes.data(), n, nullptr, 0);
    }
    result.text.resize(std::size_t(units));
    MultiByteToWideChar(UINT(codePage), flags, bytes.data(), n,
                        reinterpret_cast<wchar_t *>(result.text.data()), units);
    return result;
}

Encoded encode(std::u16string_view text, int codePage)
{
    if (const Dbcs::Table *table = dbcsTable(codePage))
        return Dbcs::encode(*table, text, codePage);
    Encoded result;
    if (text.empty())
        return result;
    const auto *wide = reinterpret_cast<const wchar_t *>(text.data());
    const int n = int(text.size());
    BOOL usedDefault = FALSE;
    // UTF-8 and UTF-7 take no default character and hold every character.
    const bool utf = codePage == 65001 || codePage == 65000;
    const int bytes = WideCharToMultiByte(UINT(codePage), 0, wide, n, nullptr, 0,
                                          utf ? nullptr : "?", utf ? nullptr : &usedDefault);
    result.bytes.resize(std::size_t(bytes));
    WideCharToMultiByte(UINT(codePage), 0, wide, n, result.bytes.data(), bytes, utf ? nullptr : "?",
                        utf ? nullptr : &usedDefault);
    result.lossless = !usedDefault;
    return result;
}

} // namespace Inkwell::CodePage
