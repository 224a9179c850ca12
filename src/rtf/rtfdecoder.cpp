#include "rtf/rtfdecoder.h"

#include "platform/codepage.h"

#include <algorithm>

namespace Inkwell::Rtf {

namespace {

// iconv's CP1258 and CP1255 hold a letter back until they know that no
// combining mark follows it, and drop it at the end of the input: a line end
// after the bytes lets it out. (No double-byte code page takes 0x0A as a
// second byte.)
std::u16string decodeAll(std::string_view bytes, int codePage)
{
    if (codePage != 1258 && codePage != 1255)
        return CodePage::decode(bytes, codePage).text;
    std::string ended(bytes);
    ended.push_back('\n');
    std::u16string text = CodePage::decode(ended, codePage).text;
    if (!text.empty() && text.back() == u'\n')
        text.pop_back();
    return text;
}

} // namespace

const std::u16string &Decoder::decode(std::string_view bytes, int codePage)
{
    Table &table = tableFor(codePage);
    if (table.singleByte) {
        m_result.clear();
        for (char byte : bytes)
            m_result.push_back(table.units[static_cast<unsigned char>(byte)]);
        return m_result;
    }
    if (bytes.size() <= 4) {
        // Code page, length ("\0A" is not "A") and up to four bytes.
        std::uint64_t key = (std::uint64_t(std::uint32_t(codePage) & 0xFFFFF) << 36) |
                            (std::uint64_t(bytes.size()) << 32);
        std::uint64_t packed = 0;
        for (char byte : bytes)
            packed = (packed << 8) | static_cast<unsigned char>(byte);
        key |= packed;
        auto found = m_short.find(key);
        if (found == m_short.end()) {
            if (m_short.size() > 65536)
                m_short.clear();
            found = m_short.emplace(key, decodeAll(bytes, codePage)).first;
        }
        return found->second;
    }
    m_result = decodeAll(bytes, codePage);
    return m_result;
}

std::u16string Decoder::decodeWhole(std::string_view bytes, int codePage)
{
    return decodeAll(bytes, codePage);
}

Decoder::Table &Decoder::tableFor(int codePage)
{
    auto found = m_tables.find(codePage);
    if (found != m_tables.end())
        return found->second;
    Table table;
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = char(i);
    // In a single-byte code page every byte is one character (or one
    // U+FFFD); a multi-byte code page pairs some of them up.
    const std::u16string text = decodeAll(all, codePage);
    if (text.size() == 256) {
        table.singleByte = true;
        std::copy(text.begin(), text.end(), table.units);
    }
    return m_tables.emplace(codePage, table).first->second;
}

} // namespace Inkwell::Rtf
