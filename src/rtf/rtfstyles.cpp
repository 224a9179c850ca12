#include "rtf/rtfstyles.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace Inkwell::Rtf {

namespace {

// One style as its group states it, before its base is taken in.
struct Stated {
    std::optional<Qt::Alignment> alignment;
    std::optional<std::pair<int, bool>> line; // \sl, and \slmult as far as read
    std::optional<bool> contextualSpace;
    int basedOn = -1;
    bool isParagraphStyle = true;
    bool isTableStyle = false;
};

bool isLetter(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The StyleToggle a word switches on, if any.
unsigned toggleOf(std::string_view word, bool on)
{
    if (!on)
        return 0; // \b0, \i0 and the like need no answer
    if (word == "b" || word == "ab")
        return StyleBold;
    if (word == "i" || word == "ai")
        return StyleItalic;
    if (word.starts_with("ul") && word != "ulnone" && word != "ulc")
        return StyleUnderline;
    if (word == "strike" || word == "striked")
        return StyleStrike;
    return 0;
}

// Reads the style group that begins at `at` (its "{") and returns where it
// ends. Only the group's own words count for its paragraph words: a group
// inside it ({\*\...}) is passed over. The on-off words of any depth go to
// `toggles`.
qsizetype readStyle(QByteArrayView rtf, qsizetype at, int &number, Stated &style, unsigned &toggles)
{
    int depth = 0;
    bool first = true;
    for (qsizetype i = at; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth;
            continue;
        }
        if (c == '}') {
            if (--depth == 0)
                return i + 1;
            continue;
        }
        if (c != '\\' || i + 1 >= rtf.size())
            continue;
        if (!isLetter(rtf[i + 1])) {
            // "\*" first in the group: a character or table style.
            if (depth == 1 && first && rtf[i + 1] == '*')
                style.isParagraphStyle = false;
            i += rtf[i + 1] == '\'' ? 3 : 1;
            continue;
        }
        qsizetype end = i + 1;
        while (end < rtf.size() && isLetter(rtf[end]))
            ++end;
        const std::string_view word(rtf.data() + i + 1, size_t(end - i - 1));
        bool negative = false;
        if (end < rtf.size() && rtf[end] == '-') {
            negative = true;
            ++end;
        }
        long long value = 0;
        bool hasValue = false;
        while (end < rtf.size() && isDigit(rtf[end])) {
            value = std::min(value * 10 + (rtf[end] - '0'), 100000000LL);
            hasValue = true;
            ++end;
        }
        const int param = int(negative ? -value : value);
        i = end - 1;
        toggles |= toggleOf(word, !hasValue || param != 0);
        if (depth != 1)
            continue;
        first = false;
        if (word == "s")
            number = std::max(param, 0);
        else if (word == "ts")
            number = std::max(param, 0), style.isTableStyle = true;
        else if (word == "cs" || word == "ds")
            style.isParagraphStyle = false;
        else if (word == "sbasedon")
            style.basedOn = param;
        else if (word == "ql")
            style.alignment = Qt::AlignLeft;
        else if (word == "qc")
            style.alignment = Qt::AlignHCenter;
        else if (word == "qr")
            style.alignment = Qt::AlignRight;
        else if (word == "qj")
            style.alignment = Qt::AlignJustify;
        else if (word == "sl")
            style.line = {std::clamp(param, -31680, 31680), style.line && style.line->second};
        else if (word == "slmult")
            style.line = {style.line ? style.line->first : 0, !hasValue || param != 0};
        else if (word == "contextualspace")
            style.contextualSpace = !hasValue || param != 0;
    }
    return rtf.size();
}

} // namespace

namespace {

// Every style group of the style sheet, as it states itself, and the on-off
// words of all of them.
std::map<int, Stated> readStyleSheet(QByteArrayView rtf, unsigned &toggles)
{
    std::map<int, Stated> read;
    const qsizetype start = rtf.indexOf(QByteArrayView("{\\stylesheet"));
    if (start < 0)
        return read;
    // The style sheet's own group, then one group a style.
    int depth = 0;
    for (qsizetype i = start; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '\\') {
            ++i; // a control symbol's character, or a word's first letter
            continue;
        }
        if (c == '}') {
            if (--depth == 0)
                break;
            continue;
        }
        if (c != '{')
            continue;
        if (depth == 0) {
            depth = 1;
            continue;
        }
        int number = 0;
        Stated style;
        i = readStyle(rtf, i, number, style, toggles) - 1;
        if ((style.isParagraphStyle || style.isTableStyle) && !read.contains(number))
            read.emplace(number, style);
    }
    return read;
}

} // namespace

ParagraphStyles paragraphStyles(QByteArrayView rtf, unsigned *toggles)
{
    unsigned set = 0;
    const std::map<int, Stated> read = readStyleSheet(rtf, set);
    if (toggles)
        *toggles = set;

    ParagraphStyles styles;
    for (const auto &[number, own] : read) {
        ParagraphStyle resolved;
        resolved.tableStyle = own.isTableStyle;
        // From the style itself down its bases; the first to say a thing
        // says it. A chain that loops, or runs long, ends.
        const Stated *at = &own;
        bool alignment = false, line = false, contextual = false;
        for (int steps = 0; at && steps < 16; ++steps) {
            if (!alignment && at->alignment) {
                resolved.alignment = at->alignment;
                alignment = true;
            }
            if (!line && at->line) {
                resolved.lineSpacing = at->line->first;
                resolved.lineMultiple = at->line->second;
                resolved.lineStated = true;
                line = true;
            }
            if (!contextual && at->contextualSpace) {
                resolved.contextualSpace = *at->contextualSpace;
                contextual = true;
            }
            const auto base = at->basedOn >= 0 ? read.find(at->basedOn) : read.end();
            at = base != read.end() ? &base->second : nullptr;
        }
        styles.emplace(number, resolved);
    }
    return styles;
}

} // namespace Inkwell::Rtf
