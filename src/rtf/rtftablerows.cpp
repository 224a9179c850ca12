// Row definitions given after a row's cells: some generators write a row's
// \trowd and \cellx words after its cells, right before \row (Word writes a
// nested row so). The cells must take the definition of their own row, so
// the reader looks ahead for it when a row begins with none read.
#include "rtf/rtfreaderimpl.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace Inkwell::Rtf::Reading {

namespace {

// What one look ahead reads at most; a row longer than this keeps the
// definition read last.
constexpr int maxLookAheadTokens = 1 << 20;

// The words that make up a row definition, the only ones read ahead.
bool definesRow(std::string_view word)
{
    if (word == "brdrt" || word == "brdrb" || word == "brdrl" || word == "brdrr")
        return false; // a paragraph's box
    return word.starts_with("cl") || word.starts_with("tr") || word.starts_with("brdr") ||
           word == "cellx";
}

// Groups whose content is no part of the body's rows: what is in them is
// kept, skipped or read elsewhere.
bool apartFromBody(std::string_view word)
{
    static constexpr std::string_view apart[] = {
        "footnote", "header",  "headerl", "headerr",  "headerf",    "footer",     "footerl",
        "footerr",  "footerf", "pict",    "object",   "shp",        "shpinst",    "shptxt",
        "fldinst",  "info",    "fonttbl", "colortbl", "stylesheet", "annotation", "txe"};
    return std::find(std::begin(apart), std::end(apart), word) != std::end(apart);
}

// Follows the groups and paragraph words that say where a row ends, as the
// reader takes them.
struct RowEnds {
    // Levels count from where the look began, and go below it when the
    // look leaves the groups it began in.
    static constexpr int none = std::numeric_limits<int>::min();
    int level = 0;
    int nestProps = none; // the level of the {\*\nesttableprops} group read
    int apart = none;     // the level of a group apart from the body
    bool groupStart = false;
    bool starred = false;
    int nesting = 0;
    bool inTable = false;

    bool skipping() const { return apart != none; }
    // The table depth of the row the token ends, 0 when it ends none.
    int take(const Token &token)
    {
        const bool atStart = groupStart;
        groupStart = false;
        switch (token.type) {
        case Token::Type::GroupStart:
            ++level;
            groupStart = apart == none;
            starred = false;
            return 0;
        case Token::Type::GroupEnd:
            if (nestProps == level)
                nestProps = none;
            if (apart == level)
                apart = none;
            --level;
            return 0;
        case Token::Type::ControlSymbol:
            if (token.symbol == '*' && atStart) {
                starred = true;
                groupStart = true; // the word after it names the destination
            }
            return 0;
        case Token::Type::ControlWord:
            break;
        default:
            return 0;
        }
        if (apart != none)
            return 0;
        const std::string_view word = token.text;
        if (atStart && starred) {
            if (word == "nesttableprops" && nestProps == none)
                nestProps = level;
            else
                apart = level;
            starred = false;
            return 0;
        }
        if (atStart && apartFromBody(word)) {
            apart = level;
            return 0;
        }
        if (word == "pard") {
            nesting = 0;
            inTable = false;
        } else if (word == "intbl") {
            inTable = true;
        } else if (word == "itap") {
            nesting = std::clamp(token.value, 0, 1000);
        } else if (word == "row") {
            return 1;
        } else if (word == "nestrow") {
            const int depth = nesting > 0 ? nesting : (inTable ? 1 : 0);
            return std::clamp(depth, 2, maxTableDepth);
        }
        return 0;
    }
};

} // namespace

const RowDef &Reader::rowFor(int depth)
{
    const size_t at = size_t(std::clamp(depth, 1, maxTableDepth));
    if (m_rowDefRead[at])
        return m_rowDefs[at];
    LookedAhead &ahead = m_lookedAhead[at];
    if (!ahead.until || m_tokens.position() >= ahead.until) {
        ahead.def = RowDef();
        ahead.found = lateRowDefinition(int(at), ahead.def, ahead.until);
    }
    return ahead.found ? ahead.def : m_rowDefs[at];
}

// Reads ahead to the end of the row at `depth` for a definition given after
// its cells. `until` takes where the look stopped.
bool Reader::lateRowDefinition(int depth, RowDef &def, const char *&until)
{
    Tokenizer peek = m_tokens;
    RowEnds ends;
    ends.nesting = para().nesting;
    ends.inTable = para().inTable;
    bool found = false;
    Tokenizer definition = peek;
    int tokens = 0;
    for (; tokens < maxLookAheadTokens; ++tokens) {
        const Token token = peek.next();
        if (token.type == Token::Type::End)
            break;
        const bool outerRow = depth == 1 && ends.nestProps == RowEnds::none && !ends.skipping();
        const bool nestedRow = depth > 1 && ends.nestProps != RowEnds::none && !ends.skipping();
        const int ended = ends.take(token);
        if (token.type == Token::Type::ControlWord && token.text == "trowd" &&
            (outerRow || nestedRow)) {
            definition = peek;
            found = true;
        }
        if (ended == 0)
            continue;
        if (ended == depth)
            break;
        if (ended < depth) {
            found = false; // a row around this one ended first
            break;
        }
        if (depth > 1)
            found = false; // a deeper row's definition
    }
    until = peek.position();
    if (!found || tokens >= maxLookAheadTokens)
        return false;

    // The definition's words, read as the reader reads them, into `def`.
    const RowDef saved = m_rowDefs[size_t(depth)];
    const int savedLevel = m_rowDefLevel;
    const BorderOf savedBorderOf = m_borderOf;
    const std::uint8_t savedSide = m_borderSide;
    m_rowDefLevel = depth;
    m_rowDefs[size_t(depth)] = RowDef();
    m_borderOf = BorderOf::Other;
    RowEnds inner;
    const auto &table = keywords();
    while (definition.position() < until) {
        const Token token = definition.next();
        if (token.type == Token::Type::End)
            break;
        const bool skipped = (depth == 1 && inner.nestProps != RowEnds::none) || inner.skipping();
        inner.take(token);
        if (skipped || token.type != Token::Type::ControlWord || !definesRow(token.text))
            continue;
        const auto keyword = table.find(token.text);
        if (keyword != table.end())
            keyword->second->handle(*this, {token.value, token.hasParam});
    }
    def = m_rowDefs[size_t(depth)];
    m_rowDefs[size_t(depth)] = saved;
    m_rowDefLevel = savedLevel;
    m_borderOf = savedBorderOf;
    m_borderSide = savedSide;
    return true;
}

} // namespace Inkwell::Rtf::Reading
