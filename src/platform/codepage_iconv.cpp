// Code-page conversion through iconv (glibc), for systems other than Windows.
#include "codepage.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Inkwell::CodePage {

namespace {

std::string iconvName(int codePage)
{
    switch (codePage) {
    case 65001: return "UTF-8";
    case 20936: return "GB2312";
    case 54936: return "GB18030";
    case 10000: return "MACINTOSH";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + std::to_string(codePage);
    }
}

// UTF-16 in the host's byte order, so char16_t buffers need no swapping.
const char *utf16Name()
{
    const char16_t probe = 1;
    return *reinterpret_cast<const unsigned char *>(&probe) == 1 ? "UTF-16LE" : "UTF-16BE";
}

class Converter {
public:
    Converter(const std::string &to, const std::string &from)
        : m_cd(iconv_open(to.c_str(), from.c_str()))
    {
    }
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }
    void reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t m_cd;
};

bool isGb18030FourByte(const unsigned char *p, size_t left)
{
    return left >= 4 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x30 && p[1] <= 0x39
        && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39;
}

// Double-byte code pages are decoded and encoded through tables built once
// from iconv: a tight loop over a table is several times faster than iconv
// itself, which matters for files of tens of megabytes.
struct DbcsTable {
    std::array<char16_t, 256> single{};      // 0: not a character on its own
    std::vector<char16_t> pair;              // lead << 8 | trail; 0: not a character
    std::vector<std::uint16_t> reverse;      // UTF-16 unit -> bytes; 0: none
};

bool isDoubleByte(int codePage)
{
    return codePage == 936 || codePage == 932 || codePage == 949 || codePage == 950;
}

std::unique_ptr<DbcsTable> buildTable(int codePage)
{
    Converter to16(utf16Name(), iconvName(codePage));
    Converter from16(iconvName(codePage), utf16Name());
    if (!to16.ok() || !from16.ok())
        return nullptr;
    auto table = std::make_unique<DbcsTable>();
    table->pair.assign(65536, 0);
    table->reverse.assign(65536, 0);
    const auto decodeOne = [&](const unsigned char *bytes, size_t n) -> char16_t {
        char16_t out[4];
        char *in = reinterpret_cast<char *>(const_cast<unsigned char *>(bytes));
        size_t inLeft = n;
        char *o = reinterpret_cast<char *>(out);
        size_t outLeft = sizeof(out);
        to16.reset();
        if (iconv(to16.handle(), &in, &inLeft, &o, &outLeft) == size_t(-1) || inLeft != 0
            || sizeof(out) - outLeft != sizeof(char16_t))
            return 0;
        return out[0];
    };
    const auto encodeOne = [&](char16_t unit) -> std::uint16_t {
        unsigned char out[8];
        char *in = reinterpret_cast<char *>(&unit);
        size_t inLeft = sizeof(unit);
        char *o = reinterpret_cast<char *>(out);
        size_t outLeft = sizeof(out);
        from16.reset();
        if (iconv(from16.handle(), &in, &inLeft, &o, &outLeft) == size_t(-1))
            return 0;
        const size_t n = sizeof(out) - outLeft;
        if (n == 1)
            return out[0];
        if (n == 2)
            return std::uint16_t(out[0] << 8 | out[1]);
        return 0;
    };
    for (int b = 0x80; b <= 0xFF; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        table->single[size_t(b)] = decodeOne(&byte, 1);
    }
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        if (table->single[size_t(lead)])
            continue;
        for (int trail = 0x21; trail <= 0xFE; ++trail) {
            const unsigned char bytes[2] = {static_cast<unsigned char>(lead),
                                            static_cast<unsigned char>(trail)};
            table->pair[size_t(lead << 8 | trail)] = decodeOne(bytes, 2);
        }
    }
    // The reverse direction asks iconv for each character, so that a
    // character with two byte forms is written in the canonical one.
    const auto addReverse = [&](char16_t unit) {
        if (unit >= 0x80 && (unit < 0xD800 || unit > 0xDFFF) && !table->reverse[unit])
            table->reverse[unit] = encodeOne(unit);
    };
    for (char16_t c : table->single)
        if (c)
            addReverse(c);
    for (char16_t c : table->pair)
        if (c)
            addReverse(c);
    return table;
}

const DbcsTable *dbcsTable(int codePage)
{
    if (!isDoubleByte(codePage))
        return nullptr;
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<DbcsTable>> tables;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = tables.find(codePage);
    if (it == tables.end())
        it = tables.emplace(codePage, buildTable(codePage)).first;
    return it->second.get();
}

} // namespace

int systemAnsi()
{
    if (const char *env = std::getenv("INKWELL_CODEPAGE")) {
        char *end = nullptr;
        const long value = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && value > 0 && value < 65536 && isSupported(int(value)))
            return int(value);
    }
    return 936;
}

bool isSupported(int codePage)
{
    Converter probe(utf16Name(), iconvName(codePage));
    return probe.ok();
}

static Decoded iconvDecode(std::string_view bytes, int codePage)
{
    Decoded result;
    Converter cd(utf16Name(), iconvName(codePage));
    if (!cd.ok()) {
        // An unknown code page: keep every byte visible rather than lose text.
        result.text.reserve(bytes.size());
        for (unsigned char c : bytes)
            result.text.push_back(c < 0x80 ? char16_t(c) : u'\uFFFD');
        for (unsigned char c : bytes)
            if (c >= 0x80)
                result.clean = false;
        return result;
    }

    result.text.resize(bytes.size() + 4);
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    size_t produced = 0;
    while (inLeft > 0) {
        char *out = reinterpret_cast<char *>(result.text.data() + produced);
        size_t outLeft = (result.text.size() - produced) * sizeof(char16_t);
        const size_t rc = iconv(cd.handle(), &in, &inLeft, &out, &outLeft);
        produced = result.text.size() - outLeft / sizeof(char16_t);
        if (rc != size_t(-1))
            break;
        if (errno == E2BIG) {
            result.text.resize(result.text.size() * 2 + 16);
            continue;
        }
        // EILSEQ or EINVAL: one bad (or cut-off) character at `in`. (Code
        // page 936 and its GB18030 forms go through the table instead.)
        result.clean = false;
        if (result.text.size() < produced + 1)
            result.text.resize(result.text.size() * 2 + 16);
        result.text[produced++] = u'\uFFFD';
        ++in;
        --inLeft;
        cd.reset();
    }
    result.text.resize(produced);
    return result;
}

static Encoded iconvEncode(std::u16string_view text, int codePage)
{
    Encoded result;
    Converter cd(iconvName(codePage), utf16Name());
    if (!cd.ok()) {
        for (char16_t c : text) {
            result.bytes.push_back(c < 0x80 ? char(c) : '?');
            if (c >= 0x80)
                result.lossless = false;
        }
        return result;
    }

    result.bytes.resize(text.size() * 2 + 16);
    char *in = reinterpret_cast<char *>(const_cast<char16_t *>(text.data()));
    size_t inLeft = text.size() * sizeof(char16_t);
    size_t produced = 0;
    while (inLeft > 0) {
        char *out = result.bytes.data() + produced;
        size_t outLeft = result.bytes.size() - produced;
        const size_t rc = iconv(cd.handle(), &in, &inLeft, &out, &outLeft);
        produced = result.bytes.size() - outLeft;
        if (rc != size_t(-1))
            break;
        if (errno == E2BIG) {
            result.bytes.resize(result.bytes.size() * 2 + 16);
            continue;
        }
        auto *unit = reinterpret_cast<const char16_t *>(in);
        size_t units = 1;
        if (unit[0] >= 0xD800 && unit[0] < 0xDC00 && inLeft >= 4 && unit[1] >= 0xDC00
            && unit[1] < 0xE000)
            units = 2;
        result.lossless = false;
        if (result.bytes.size() < produced + 1)
            result.bytes.resize(result.bytes.size() * 2 + 16);
        result.bytes[produced++] = '?';
        in += units * sizeof(char16_t);
        inLeft -= units * sizeof(char16_t);
        cd.reset();
    }
    // Flush any shift state (stateful code pages such as 50220).
    char tail[16];
    char *out = tail;
    size_t outLeft = sizeof(tail);
    if (iconv(cd.handle(), nullptr, nullptr, &out, &outLeft) != size_t(-1) && outLeft < sizeof(tail)) {
        result.bytes.resize(produced);
        result.bytes.append(tail, sizeof(tail) - outLeft);
        return result;
    }
    result.bytes.resize(produced);
    return result;
}

Decoded decode(std::string_view bytes, int codePage)
{
    const DbcsTable *table = dbcsTable(codePage);
    if (!table)
        return iconvDecode(bytes, codePage);
    std::unique_ptr<Converter> gb18030;
    Decoded result;
    result.text.resize(bytes.size());
    char16_t *out = result.text.data();
    size_t w = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out[w++] = b;
            ++i;
            continue;
        }
        if (const char16_t c = table->single[b]) {
            out[w++] = c;
            ++i;
            continue;
        }
        if (i + 1 < n) {
            if (const char16_t c = table->pair[size_t(b << 8 | p[i + 1])]) {
                out[w++] = c;
                i += 2;
                continue;
            }
        }
        // Rare: a GB18030 four-byte sequence (code page 936 writes characters
        // outside it that way) or a byte that is no character.
        if (codePage == 936 && isGb18030FourByte(p + i, n - i)) {
            if (!gb18030)
                gb18030 = std::make_unique<Converter>(utf16Name(), "GB18030");
            char16_t pair[2];
            char *gin = const_cast<char *>(bytes.data() + i);
            size_t ginLeft = 4;
            char *gout = reinterpret_cast<char *>(pair);
            size_t goutLeft = sizeof(pair);
            gb18030->reset();
            if (gb18030->ok()
                && iconv(gb18030->handle(), &gin, &ginLeft, &gout, &goutLeft) != size_t(-1)) {
                const size_t units = (sizeof(pair) - goutLeft) / sizeof(char16_t);
                if (w + units > result.text.size())
                    result.text.resize(result.text.size() + 16), out = result.text.data();
                for (size_t k = 0; k < units; ++k)
                    out[w++] = pair[k];
                i += 4;
                continue;
            }
        }
        result.clean = false;
        out[w++] = u'\uFFFD';
        ++i;
    }
    result.text.resize(w);
    return result;
}

Encoded encode(std::u16string_view text, int codePage)
{
    const DbcsTable *table = dbcsTable(codePage);
    if (!table)
        return iconvEncode(text, codePage);
    std::unique_ptr<Converter> gb18030;
    Encoded result;
    result.bytes.resize(text.size() * 2);
    char *out = result.bytes.data();
    size_t w = 0;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const char16_t c = text[i];
        if (c < 0x80) {
            out[w++] = char(c);
            ++i;
            continue;
        }
        if (const std::uint16_t code = table->reverse[c]) {
            if (code > 0xFF)
                out[w++] = char(code >> 8);
            out[w++] = char(code & 0xFF);
            ++i;
            continue;
        }
        // Not in the table: a surrogate pair or a character outside the code
        // page; iconv applies the GB18030 or '?' rule.
        size_t units = 1;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            units = 2;
        const bool loneSurrogate = units == 1 && c >= 0xD800 && c < 0xE000;
        // Room for this character's longest form (four bytes) and two bytes
        // for every unit after it, which is all a table character takes.
        const size_t needed = w + 8 + 2 * (n - i - units);
        if (result.bytes.size() < needed)
            result.bytes.resize(needed), out = result.bytes.data();
        bool written = false;
        if (codePage == 936 && !loneSurrogate) {
            if (!gb18030)
                gb18030 = std::make_unique<Converter>("GB18030", utf16Name());
            char *gin = reinterpret_cast<char *>(const_cast<char16_t *>(text.data() + i));
            size_t ginLeft = units * sizeof(char16_t);
            char *gout = out + w;
            size_t goutLeft = 8;
            gb18030->reset();
            if (gb18030->ok()
                && iconv(gb18030->handle(), &gin, &ginLeft, &gout, &goutLeft) != size_t(-1)) {
                w += 8 - goutLeft;
                written = true;
            }
        }
        if (!written) {
            result.lossless = false;
            out[w++] = '?';
        }
        i += units;
    }
    result.bytes.resize(w);
    return result;
}

int fromCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;   // ANSI_CHARSET
    case 77: return 10000; // MAC_CHARSET
    case 128: return 932;  // SHIFTJIS_CHARSET
    case 129: return 949;  // HANGUL_CHARSET
    case 130: return 1361; // JOHAB_CHARSET
    case 134: return 936;  // GB2312_CHARSET
    case 136: return 950;  // CHINESEBIG5_CHARSET
    case 161: return 1253; // GREEK_CHARSET
    case 162: return 1254; // TURKISH_CHARSET
    case 163: return 1258; // VIETNAMESE_CHARSET
    case 177: return 1255; // HEBREW_CHARSET
    case 178: return 1256; // ARABIC_CHARSET
    case 186: return 1257; // BALTIC_CHARSET
    case 204: return 1251; // RUSSIAN_CHARSET
    case 222: return 874;  // THAI_CHARSET
    case 238: return 1250; // EASTEUROPE_CHARSET
    default: return 0;     // DEFAULT_CHARSET, SYMBOL_CHARSET, OEM and unknown
    }
}

} // namespace Inkwell::CodePage
