#include "codepage_dbcs.h"

#include "gb18030.h"

namespace Inkwell::CodePage::Dbcs {

bool isDoubleByte(int codePage)
{
    return codePage == 936 || codePage == 932 || codePage == 949 || codePage == 950;
}

std::unique_ptr<Table> build(const DecodeOne &decodeOne, const EncodeOne &encodeOne)
{
    auto table = std::make_unique<Table>();
    table->pair.assign(65536, 0);
    table->reverse.assign(65536, 0);
    for (int b = 0x80; b <= 0xFF; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        table->single[std::size_t(b)] = decodeOne(&byte, 1);
    }
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        if (table->single[std::size_t(lead)])
            continue;
        for (int trail = 0x21; trail <= 0xFE; ++trail) {
            const unsigned char bytes[2] = {static_cast<unsigned char>(lead),
                                            static_cast<unsigned char>(trail)};
            table->pair[std::size_t(lead << 8 | trail)] = decodeOne(bytes, 2);
        }
    }
    // The reverse direction asks the converter for each character, so that a
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

const Table *tableFor(int codePage, const std::function<std::unique_ptr<Table>()> &make)
{
    // One table per code page, built on first use; the compiler makes the
    // first use thread-safe (no std::mutex: MinGW's win32 threads lack it).
    switch (codePage) {
    case 932: {
        static const std::unique_ptr<Table> table = make();
        return table.get();
    }
    case 936: {
        static const std::unique_ptr<Table> table = make();
        return table.get();
    }
    case 949: {
        static const std::unique_ptr<Table> table = make();
        return table.get();
    }
    case 950: {
        static const std::unique_ptr<Table> table = make();
        return table.get();
    }
    default:
        return nullptr;
    }
}

Decoded decode(const Table &table, std::string_view bytes, int codePage)
{
    Decoded result;
    result.text.resize(bytes.size());
    char16_t *out = result.text.data();
    std::size_t w = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out[w++] = b;
            ++i;
            continue;
        }
        if (const char16_t c = table.single[b]) {
            out[w++] = c;
            ++i;
            continue;
        }
        if (i + 1 < n) {
            if (const char16_t c = table.pair[std::size_t(b << 8 | p[i + 1])]) {
                out[w++] = c;
                i += 2;
                continue;
            }
        }
        // Rare: a GB18030 four-byte sequence or a byte that is no character.
        // Four bytes give at most two units, so the text never outgrows them.
        if (codePage == 936 && Gb18030::isFourByte(p + i, n - i)) {
            if (const char32_t c = Gb18030::decodeFourByte(p + i)) {
                if (c >= 0x10000) {
                    out[w++] = char16_t(0xD800 + ((c - 0x10000) >> 10));
                    out[w++] = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
                } else {
                    out[w++] = char16_t(c);
                }
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

Encoded encode(const Table &table, std::u16string_view text, int codePage)
{
    Encoded result;
    result.bytes.resize(text.size() * 2);
    char *out = result.bytes.data();
    std::size_t w = 0;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char16_t c = text[i];
        if (c < 0x80) {
            out[w++] = char(c);
            ++i;
            continue;
        }
        if (const std::uint16_t code = table.reverse[c]) {
            if (code > 0xFF)
                out[w++] = char(code >> 8);
            out[w++] = char(code & 0xFF);
            ++i;
            continue;
        }
        // Not in the table: a surrogate pair or a character outside the code
        // page, written in its GB18030 form (936) or as '?'.
        std::size_t units = 1;
        char32_t codePoint = c;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            units = 2;
            codePoint = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        }
        const bool loneSurrogate = units == 1 && c >= 0xD800 && c < 0xE000;
        // Room for this character's longest form (four bytes) and two bytes
        // for every unit after it, which is all a table character takes.
        const std::size_t needed = w + 4 + 2 * (n - i - units);
        if (result.bytes.size() < needed)
            result.bytes.resize(needed), out = result.bytes.data();
        unsigned char form[4];
        if (codePage == 936 && !loneSurrogate && Gb18030::encodeFourByte(codePoint, form)) {
            for (unsigned char byte : form)
                out[w++] = char(byte);
        } else {
            result.lossless = false;
            out[w++] = '?';
        }
        i += units;
    }
    result.bytes.resize(w);
    return result;
}

} // namespace Inkwell::CodePage::Dbcs
