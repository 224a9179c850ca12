#include "shell/regfileformat.h"

#include "platform/codepage.h"

#include <cstdio>
#include <map>

namespace Inkwell {

namespace {

const std::u16string kHeader5 = u"Windows Registry Editor Version 5.00";
const std::u16string kHeader4 = u"REGEDIT4";

std::u16string utf16FromLe(const std::string &bytes, std::size_t start)
{
    std::u16string text;
    text.reserve((bytes.size() - start) / 2);
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(static_cast<unsigned char>(bytes[i]) |
                                static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

void appendLe(std::string &out, const std::u16string &text)
{
    for (char16_t c : text) {
        out.push_back(char(c & 0xFF));
        out.push_back(char(c >> 8));
    }
}

bool isStringType(std::uint32_t type)
{
    return type == 1 || type == 2;
}

// Strings are kept in the file as Unicode, as the registry keeps them; the
// ANSI bytes are what the ANSI functions convert them to.
std::string ansiFromUnicode(const std::u16string &text)
{
    return CodePage::encode(text, CodePage::systemAnsi()).bytes;
}

std::u16string unicodeFromAnsi(const std::string &bytes)
{
    return CodePage::decode(bytes, CodePage::systemAnsi()).text;
}

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

std::u16string trim(const std::u16string &s)
{
    const auto first = s.find_first_not_of(u" \t");
    if (first == std::u16string::npos)
        return {};
    const auto last = s.find_last_not_of(u" \t");
    return s.substr(first, last - first + 1);
}

std::u16string quote(const std::u16string &s)
{
    std::u16string out = u"\"";
    for (char16_t c : s) {
        if (c == u'\\' || c == u'"')
            out.push_back(u'\\');
        out.push_back(c);
    }
    out.push_back(u'"');
    return out;
}

// Reads a quoted string at pos; pos ends after the closing quote.
bool readQuoted(const std::u16string &line, std::size_t &pos, std::u16string *out)
{
    if (pos >= line.size() || line[pos] != u'"')
        return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        const char16_t c = line[pos++];
        if (c == u'"')
            return true;
        if (c == u'\\') {
            if (pos >= line.size() || (line[pos] != u'\\' && line[pos] != u'"'))
                return false;
            out->push_back(line[pos++]);
        } else {
            out->push_back(c);
        }
    }
    return false;
}

bool readHexBytes(const std::u16string &text, std::string *out)
{
    out->clear();
    const std::u16string list = trim(text);
    if (list.empty())
        return true; // "hex:" alone is a value without data
    std::size_t pos = 0;
    while (true) {
        while (pos < list.size() && (list[pos] == u' ' || list[pos] == u'\t'))
            ++pos;
        if (pos + 2 > list.size())
            return false;
        const int hi = hexDigit(list[pos]);
        const int lo = hexDigit(list[pos + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->push_back(char(hi * 16 + lo));
        pos += 2;
        while (pos < list.size() && (list[pos] == u' ' || list[pos] == u'\t'))
            ++pos;
        if (pos == list.size())
            return true;
        if (list[pos] != u',')
            return false;
        ++pos;
    }
}

std::u16string hexList(const std::string &bytes)
{
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            out.push_back(u',');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::u16string ascii(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}

// The parsed value data for a type and its bytes, as the ANSI functions see them.
bool dataFromText(const std::u16string &text, RegValue *value, std::string *error)
{
    if (!text.empty() && text.front() == u'"') {
        std::size_t pos = 0;
        std::u16string s;
        if (!readQuoted(text, pos, &s) || !trim(text.substr(pos)).empty()) {
            *error = "bad quoted string";
            return false;
        }
        value->type = 1;
        value->data = ansiFromUnicode(s) + '\0';
        return true;
    }
    if (text.rfind(u"dword:", 0) == 0) {
        const std::u16string digits = trim(text.substr(6));
        if (digits.size() != 8) {
            *error = "dword needs eight hex digits";
            return false;
        }
        std::uint32_t v = 0;
        for (char16_t c : digits) {
            const int d = hexDigit(c);
            if (d < 0) {
                *error = "bad hex digit in dword";
                return false;
            }
            v = v * 16 + std::uint32_t(d);
        }
        value->type = 4;
        value->data = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                       char(v >> 24)};
        return true;
    }
    std::size_t colon = 0;
    if (text.rfind(u"hex:", 0) == 0) {
        value->type = 3;
        colon = 3;
    } else if (text.rfind(u"hex(", 0) == 0) {
        const auto close = text.find(u"):");
        if (close == std::u16string::npos || close == 4) {
            *error = "bad hex(type)";
            return false;
        }
        std::uint32_t type = 0;
        for (std::size_t i = 4; i < close; ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0) {
                *error = "bad hex(type)";
                return false;
            }
            type = type * 16 + std::uint32_t(d);
        }
        value->type = type;
        colon = close + 1;
    } else {
        *error = "unknown value data";
        return false;
    }
    std::string bytes;
    if (!readHexBytes(text.substr(colon + 1), &bytes)) {
        *error = "bad hex bytes";
        return false;
    }
    if (isStringType(value->type)) {
        if (bytes.size() % 2 != 0) {
            *error = "string data of odd length";
            return false;
        }
        value->data = ansiFromUnicode(utf16FromLe(bytes, 0));
    } else {
        value->data = bytes;
    }
    return true;
}

std::u16string dataToText(const RegValue &value)
{
    if (isStringType(value.type)) {
        const std::u16string text = unicodeFromAnsi(value.data);
        const bool plain = value.type == 1 && !text.empty() && text.back() == u'\0' &&
                           text.find(u'\0') == text.size() - 1 &&
                           text.find_first_of(u"\r\n") == std::u16string::npos;
        if (plain)
            return quote(text.substr(0, text.size() - 1));
        std::string le;
        appendLe(le, text);
        return u"hex(" + ascii(std::to_string(value.type)) + u"):" + hexList(le);
    }
    if (value.type == 4 && value.data.size() == 4) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(value.data[std::size_t(i)]);
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", v);
        return u"dword:" + ascii(digits);
    }
    if (value.type == 3)
        return u"hex:" + hexList(value.data);
    char type[16];
    std::snprintf(type, sizeof type, "%x", value.type);
    return u"hex(" + ascii(type) + u"):" + hexList(value.data);
}

} // namespace

std::u16string RegFileFormat::fold(const std::u16string &name)
{
    std::u16string out = name;
    for (char16_t &c : out)
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - u'a' + u'A');
    return out;
}

RegFileFormat::Parsed RegFileFormat::parse(const std::string &fileBytes)
{
    Parsed result;
    std::u16string text;
    if (fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
        static_cast<unsigned char>(fileBytes[1]) == 0xFE) {
        if (fileBytes.size() % 2 != 0) {
            result.error = "UTF-16 text of odd length";
            return result;
        }
        text = utf16FromLe(fileBytes, 2);
    } else {
        const bool bom = fileBytes.rfind("\xEF\xBB\xBF", 0) == 0;
        const auto decoded =
            CodePage::decode(std::string_view(fileBytes).substr(bom ? 3 : 0), 65001);
        if (!decoded.clean) {
            result.error = "neither UTF-16LE nor UTF-8 text";
            return result;
        }
        text = decoded.text;
    }

    std::vector<std::u16string> lines;
    for (std::size_t start = 0; start <= text.size();) {
        auto end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }

    std::map<std::u16string, std::size_t> index; // folded path -> position in keys
    auto addKey = [&](const std::u16string &path) -> std::size_t {
        const auto folded = fold(path);
        if (auto it = index.find(folded); it != index.end())
            return it->second;
        for (auto sep = path.find(u'\\'); sep != std::u16string::npos;
             sep = path.find(u'\\', sep + 1)) {
            const auto parent = fold(path.substr(0, sep));
            if (!index.count(parent)) {
                index[parent] = result.keys.size();
                result.keys.push_back({path.substr(0, sep), {}});
            }
        }
        index[folded] = result.keys.size();
        result.keys.push_back({path, {}});
        return result.keys.size() - 1;
    };

    bool sawHeader = false;
    std::size_t current = std::size_t(-1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        result.errorLine = int(i) + 1;
        std::u16string line = trim(lines[i]);
        if (line.empty() || line.front() == u';')
            continue;
        if (!sawHeader) {
            if (line != kHeader5 && line != kHeader4) {
                result.error = "missing header line";
                return result;
            }
            sawHeader = true;
            continue;
        }
        if (line.front() == u'[') {
            if (line.back() != u']' || line.size() < 3 || line[1] == u'-') {
                result.error = "bad key line";
                return result;
            }
            const std::u16string path = line.substr(1, line.size() - 2);
            if (path.front() == u'\\' || path.back() == u'\\' ||
                path.find(u"\\\\") != std::u16string::npos) {
                result.error = "bad key path";
                return result;
            }
            current = addKey(path);
            continue;
        }
        if (current == std::size_t(-1)) {
            result.error = "value outside any key";
            return result;
        }
        // Long hex data continues on the next line after a trailing backslash.
        while (!line.empty() && line.back() == u'\\' && i + 1 < lines.size() &&
               line.find(u"=hex") != std::u16string::npos)
            line = line.substr(0, line.size() - 1) + trim(lines[++i]);

        RegValue value;
        std::size_t pos = 0;
        if (line.front() == u'@') {
            pos = 1;
        } else if (!readQuoted(line, pos, &value.name)) {
            result.error = "bad value name";
            return result;
        }
        if (pos >= line.size() || line[pos] != u'=') {
            result.error = "expected '=' after the value name";
            return result;
        }
        if (!dataFromText(trim(line.substr(pos + 1)), &value, &result.error))
            return result;
        auto &values = result.keys[current].values;
        const auto folded = fold(value.name);
        bool replaced = false;
        for (auto &v : values) {
            if (fold(v.name) == folded) {
                v = value;
                replaced = true;
            }
        }
        if (!replaced)
            values.push_back(value);
    }
    if (!sawHeader) {
        result.errorLine = 1;
        result.error = "missing header line";
        return result;
    }
    result.ok = true;
    result.errorLine = 0;
    return result;
}

std::string RegFileFormat::write(const std::vector<RegKeyNode> &keys)
{
    std::u16string text = kHeader5 + u"\r\n";
    for (const auto &key : keys) {
        // Appended piece by piece: gcc 12 warns wrongly (-Wrestrict) about
        // "literal" + temporary string in release builds.
        text += u"\r\n[";
        text += key.path;
        text += u"]\r\n";
        for (const auto &value : key.values) {
            text += value.name.empty() ? std::u16string(u"@") : quote(value.name);
            text += u'=';
            text += dataToText(value);
            text += u"\r\n";
        }
    }
    std::string out = "\xFF\xFE";
    appendLe(out, text);
    return out;
}

} // namespace Inkwell
