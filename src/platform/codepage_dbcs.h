// Double-byte code pages (936, 932, 949, 950) through tables built once from
// the system's converter, one character at a time: a tight loop over a table
// is several times faster than the system's converter on files of tens of
// megabytes, and every backend then treats bad bytes and GB18030's
// four-byte forms the same way. Standard library only.
#pragma once

#include "codepage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Inkwell::CodePage::Dbcs {

bool isDoubleByte(int codePage);

struct Table {
    std::array<char16_t, 256> single{}; // 0: not a character on its own
    std::vector<char16_t> pair;         // lead << 8 | trail; 0: not a character
    std::vector<std::uint16_t> reverse; // UTF-16 unit -> bytes; 0: none
};

// The system converter, one character at a time: the UTF-16 unit of one or
// two bytes (0 when they are not exactly one character), and the bytes of
// one unit (one byte, or lead << 8 | trail; 0 when it has no form).
using DecodeOne = std::function<char16_t(const unsigned char *bytes, std::size_t n)>;
using EncodeOne = std::function<std::uint16_t(char16_t unit)>;

std::unique_ptr<Table> build(const DecodeOne &decodeOne, const EncodeOne &encodeOne);

// The table of a double-byte code page, built once by `make` and kept;
// null for other code pages or when `make` could not build one.
const Table *tableFor(int codePage, const std::function<std::unique_ptr<Table>()> &make);

// Bad bytes read as U+FFFD, one each; code page 936 reads and writes
// characters outside GBK as GB18030 four-byte sequences, other code pages
// write them as '?'.
Decoded decode(const Table &table, std::string_view bytes, int codePage);
Encoded encode(const Table &table, std::u16string_view text, int codePage);

} // namespace Inkwell::CodePage::Dbcs
