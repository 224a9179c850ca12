// Code-page conversion through iconv (glibc), for systems other than Windows.
#include "codepage.h"

#include "codepage_dbcs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <cstdint>
#include <memory>

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

// The table of a double-byte code page, from iconv one character at a time.
std::unique_ptr<Dbcs::Table> buildTable(int codePage)
{
    Converter to16(utf16Name(), iconvName(codePage));
    Converter from16(iconvName(codePage), utf16Name());
    if (!to16.ok() || !from16.ok())
        return nullptr;
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
    return Dbcs::build(decodeOne, encodeOne);
}

const Dbcs::Table *dbcsTable(int codePage)
{
    return Dbcs::tableFor(codePage, [codePage] { return buildTable(codePage); });
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
        // EILSEQ or EINVAL: one bad (or cut-off) character at `in`.
        // (Double-byte code pages go through their tables instead.)
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
    if (const Dbcs::Table *table = dbcsTable(codePage))
        return Dbcs::decode(*table, bytes, codePage);
    return iconvDecode(bytes, codePage);
}

Encoded encode(std::u16string_view text, int codePage)
{
    if (const Dbcs::Table *table = dbcsTable(codePage))
        return Dbcs::encode(*table, text, codePage);
    return iconvEncode(text, codePage);
}

} // namespace Inkwell::CodePage
