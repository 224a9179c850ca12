// The reader's one way from \'xx bytes to text, with the cache that makes it
// cheap to call for every few bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Inkwell::Rtf {

// CodePage::decode() sets up a converter on every call; text with a \'xx
// every few letters (accented Latin, short Chinese words between ASCII)
// would pay that per byte. Single-byte code pages get a table, decoded once;
// short double-byte sequences are remembered.
class Decoder {
public:
    // The text of `bytes` in `codePage`, valid until the next call.
    const std::u16string &decode(std::string_view bytes, int codePage);
    // Bytes decoded once, as one piece (a font's name), without the cache.
    static std::u16string decodeWhole(std::string_view bytes, int codePage);

private:
    struct Table {
        bool singleByte = false;
        char16_t units[256] = {};
    };
    Table &tableFor(int codePage);

    std::unordered_map<int, Table> m_tables;
    std::unordered_map<std::uint64_t, std::u16string> m_short;
    std::u16string m_result;
};

} // namespace Inkwell::Rtf
