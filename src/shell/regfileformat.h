// Keys and values in the text format of the registry editor's export files
// ("Windows Registry Editor Version 5.00"): UTF-16LE with a byte-order mark
// and CRLF line ends when written; UTF-8 is accepted when read, so that a
// file edited by hand still loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Inkwell {

struct RegValue {
    std::u16string name; // empty: the key's default value, "@" in the file
    std::uint32_t type = 0;
    // The bytes as the ANSI registry functions see them: strings (REG_SZ,
    // REG_EXPAND_SZ) in the system's ANSI code page with their NUL.
    std::string data;
};

struct RegKeyNode {
    std::u16string path; // full path from the root, as first written
    std::vector<RegValue> values;
};

class RegFileFormat {
public:
    struct Parsed {
        bool ok = false;
        std::vector<RegKeyNode> keys; // in file order, ancestors added where missing
        int errorLine = 0;            // 1-based line of the first error
        std::string error;            // what is wrong there (UTF-8)
    };

    static Parsed parse(const std::string &fileBytes);
    static std::string write(const std::vector<RegKeyNode> &keys);

    // Key and value names are compared the way the registry does: without
    // regard to case (ASCII letters, which is all the program's names use).
    static std::u16string fold(const std::u16string &name);
};

} // namespace Inkwell
