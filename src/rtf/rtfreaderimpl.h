// The reader's class, apart from its entry point: shared by rtfreader.cpp
// and rtfkeywords.cpp, which binds each keyword to its handler. One pass over
// the tokens with a stack of group states; the text goes to TextRuns, the
// pictures to PictureSink, the font and list tables to their own readers.
#pragma once

#include "rtf/rtfdecoder.h"
#include "rtf/rtffonttable.h"
#include "rtf/rtfkept.h"
#include "rtf/rtflisttable.h"
#include "rtf/rtfpicture.h"
#include "rtf/rtfstructure.h"
#include "rtf/rtfstyles.h"
#include "rtf/rtftextruns.h"
#include "rtf/rtftokenizer.h"

#include <QTextCursor>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Inkwell::Rtf::Reading {
// A keyword as a template argument.
template <size_t N> struct FixedWord {
    consteval FixedWord(const char (&word)[N]) { std::copy_n(word, N, text); }
    char text[N];
};

// ListTable: the list and list override tables; LevelText: a level's number
// text; Label: a list label an older reader shows (\listtext, \pntext);
// PnDef, PnText: an older paragraph numbering group and its texts.
enum class Dest : std::uint8_t {
    Body,
    FontTable,
    ColorTable,
    Pict,
    ListTable,
    LevelText,
    Label,
    PnDef,
    PnText,
    Upr, // {\upr}: its first group repeats its {\*\ud} group for older readers
    Skip
};
enum class BorderOf : std::uint8_t { Other, Cell, Row, Paragraph };
enum class RunType : std::uint8_t { None, Loch, Hich, Dbch };

struct State {
    CharProps props;
    ParaProps para;
    Dest dest = Dest::Body;
    RunType runType = RunType::None;
    bool starred = false;   // "\*" seen: an unknown destination word is skipped
    bool ownsPict = false;  // this group opened the \pict being read
    bool fontEntry = false; // this group is one {\fN ...;} entry of the font table
    bool fontPart = false;  // this group is an entry's {\*\falt} or {\*\panose}
    // What this group opened, finished when it closes.
    bool ownsList = false, ownsOverride = false, ownsLevelText = false, ownsLabel = false;
    bool ownsPn = false;
    bool pnAfter = false;   // a \pntxta group (else \pntxtb)
    bool nestProps = false; // in {\*\nesttableprops}: \trowd defines a nested row
    int uc = 1;
};

// A control word's parameter as the handlers see it.
struct Word {
    int param = 0;
    bool hasParam = false;
    // For toggles: \b and \b1 switch on, \b0 off.
    bool on() const { return !hasParam || param != 0; }
};

class Reader {
public:
    Reader(QByteArrayView data, QTextCursor &cursor, int defaultCodePage, qint64 pictureBudget)
        : m_tokens(data), m_defaultCodePage(defaultCodePage), m_cursor(cursor),
          m_fontTable(m_tables, m_decoder), m_pictures(cursor.document(), pictureBudget),
          m_listTable(m_lists), m_runs(cursor, m_tables),
          m_structure(cursor, m_runs, m_tables, m_lists, m_rowDefs),
          m_kept(cursor, m_runs, m_tables)
    {
        m_stack.reserve(64);
        m_structure.setMoveWatch([this](int from) { m_kept.pin(from); },
                                 [this] { m_kept.unpin(); });
        m_structure.setRowSource([this](int depth) -> const RowDef & { return rowFor(depth); });
    }

    void run();
    DocumentImages::BudgetUse pictureUse() const { return m_pictures.use(); }
    qint64 keptDropped() const { return m_kept.droppedBytes(); }
    // \ansicpg, else the character set the header names, else the caller's.
    int documentCodePage() const
    {
        if (m_ansiCodePage > 0)
            return m_ansiCodePage;
        return m_charsetCodePage > 0 ? m_charsetCodePage : m_defaultCodePage;
    }

private:
    using Handler = void (*)(Reader &, Word);
    // How a keyword is taken after "\*", which marks a destination a reader
    // may skip when it does not know it.
    enum class Starred : std::uint8_t { Skip, Read };
    struct Keyword {
        std::string_view word;
        Handler handle;
        Starred starred = Starred::Skip;
    };
    static const std::unordered_map<std::string_view, const Keyword *> &keywords();
    static void skip(Reader &r, Word) { r.m_state.dest = Dest::Skip; }
    static void keep(Reader &, Word) {} // text that belongs to the document
    // Groups not shown but written back as they were read.
    template <Kept::Collector::Kind kind> static void kept(Reader &r, Word)
    {
        if (r.inBody())
            r.m_kept.keep(kind, r.m_tokens.position());
        r.m_state.dest = Dest::Skip;
    }
    // Handlers shared by several words.
    template <bool CharProps::*flag> static void toggle(Reader &r, Word w)
    {
        r.props().*flag = w.on();
    }
    // Paragraph and cell ends count in the document's text only.
    static void paragraphEnd(Reader &r, Word)
    {
        if (r.inBody())
            r.paragraphEnd();
    }
    // \sect and \page end the paragraph only when it has content: right
    // after \par or \row they add no empty line (as LibreOffice reads them).
    template <bool section> static void sectionBreak(Reader &r, Word)
    {
        if (!r.inBody())
            return;
        r.m_structure.breakBetweenRows();
        if (r.m_runs.paragraphHasContent())
            r.paragraphEnd();
        else if (r.m_state.para.depth() == 0)
            r.m_runs.markEmptyBlock(r.props()); // an empty line as high as its mark
        // The paragraph that follows begins a page (a section's break
        // unless \sbknone says it runs on).
        r.m_pageBreak = true;
        if constexpr (section)
            r.m_kept.sectionBreak();
    }
    template <bool nested> static void cellEnd(Reader &r, Word)
    {
        if (!r.inBody())
            return;
        r.flushHidden();
        r.settleLabel();
        r.takeSection();
        // A cell's last paragraph empty: its mark's font, as for one
        // ended by \par.
        const bool empty = !r.m_runs.paragraphHasContent();
        if (empty || r.m_pageBreakHere || !r.m_sectionHere.isEmpty()) {
            // A table after a page or section break: its first paragraph
            // begins the page and the section.
            ParaProps para = r.para();
            if (empty) {
                para.markFont = r.props().font;
                para.markHalfPoints = r.props().halfPoints;
            }
            if (r.m_pageBreakHere || !r.m_sectionHere.isEmpty()) {
                para.pageBreakBefore = para.pageBreakBefore || r.m_pageBreakHere;
                para.section = std::exchange(r.m_sectionHere, {});
                para.sectionNumber = r.m_sections;
                r.m_pageBreakHere = false;
            }
            r.m_structure.cellEnd(para, nested);
            r.m_kept.paragraphStart();
            return;
        }
        r.m_structure.cellEnd(r.para(), nested);
        r.m_kept.paragraphStart();
    }
    template <bool nested> static void rowEnd(Reader &r, Word)
    {
        if (!r.inBody())
            return;
        r.flushHidden();
        r.settleLabel();
        const int depth = nested ? std::clamp(r.para().depth(), 2, maxTableDepth) : 1;
        r.m_structure.rowEnd(r.para(), nested, r.m_rowDefs[size_t(depth)]);
        r.m_kept.paragraphStart();
        r.m_rowDefRead[size_t(depth)] = false;
    }
    template <Qt::Alignment::enum_type align> static void alignment(Reader &r, Word)
    {
        r.para().alignment = align;
        r.para().stated |= StyledAlignment;
    }
    template <int ParaProps::*value> static void paraValue(Reader &r, Word w)
    {
        r.para().*value = std::clamp(w.param, -31680, 31680);
    }
    template <int ParaProps::*value> static void indent(Reader &r, Word w)
    {
        paraValue<value>(r, w);
        r.para().indentStated = true;
    }
    template <QTextOption::TabType type> static void tabType(Reader &r, Word)
    {
        r.para().nextTabType = type;
    }
    template <int CellDef::*value> static void cellValue(Reader &r, Word w)
    {
        r.rowDef().next.*value = w.param;
    }
    template <std::uint8_t align> static void cellAlignment(Reader &r, Word)
    {
        r.rowDef().next.valign = align;
    }
    template <int side> static void cellPadding(Reader &r, Word w)
    {
        r.rowDef().next.padding[side] = std::clamp(w.param, 0, 31680);
    }
    // The unit of a padding: 3 twips; anything else says it has none.
    template <int side> static void cellPaddingUnit(Reader &r, Word w)
    {
        if (w.param != 3)
            r.rowDef().next.padding[side] = -1;
    }
    template <BorderOf target, std::uint8_t side = 0> static void borderOf(Reader &r, Word)
    {
        r.m_borderOf = target;
        r.m_borderSide = side;
    }
    template <QTextListFormat::Style style> static void pnStyle(Reader &r, Word)
    {
        if (r.m_state.dest == Dest::PnDef)
            r.m_pn.style(style);
    }
    template <bool after> static void pnText(Reader &r, Word)
    {
        if (r.m_state.dest == Dest::PnDef) {
            r.m_state.dest = Dest::PnText;
            r.m_state.pnAfter = after;
        }
    }
    static void pnLevel(Reader &r, int level, bool bullet)
    {
        if (r.m_state.dest == Dest::PnDef)
            r.m_pn.level(level, bullet);
    }
    template <char16_t c> static void put(Reader &r, Word) { r.appendChar(c); }
    template <FixedWord word> static void fontFamily(Reader &r, Word)
    {
        if (r.m_state.dest == Dest::FontTable)
            r.m_fontTable.family(word.text);
    }
    template <FontTableReader::Part part> static void fontPart(Reader &r, Word)
    {
        if (r.m_state.dest != Dest::FontTable) {
            r.m_state.dest = Dest::Skip;
            return;
        }
        r.m_state.fontPart = true;
        r.m_fontTable.beginPart(part);
    }
    template <int codePage> static void charset(Reader &r, Word) { r.m_charsetCodePage = codePage; }
    template <RunType type> static void runType(Reader &r, Word) { r.m_state.runType = type; }
    template <PictKind kind> static void pictKind(Reader &r, Word) { r.m_pict.kind = kind; }
    template <FixedWord word> static void metafile(Reader &r, Word w)
    {
        r.m_pict.metafile(word.text, w.hasParam, w.param);
    }
    template <int Pict::*value> static void pictValue(Reader &r, Word w)
    {
        r.m_pict.*value = w.param;
    }

    void skipOverflow(const Token &token);
    void openGroup();
    void closeGroup();
    void binary(std::string_view data);
    void controlSymbol(char c);
    void controlWord(std::string_view word, Word param);
    void text(std::string_view bytes);
    void textByte(unsigned char byte);
    void hexByte(unsigned char byte);
    void appendChar(char16_t c);
    void flushBytes();
    void flushHidden();
    QByteArray takeHidden(); // the hidden text read, as RTF, taken
    // Handlers that take more than a line.
    void ansiCodePage(int codePage);
    void fontSize(Word w);
    void associatedFont(int font);
    void fontTable();
    void colorTable();
    void picture();
    void fontNumber(int number);
    void unicode(int param);
    void footnoteMark();
    // Structure.
    void beginContent();
    void paragraphEnd();
    void takeSection();
    void settleLabel();
    void tabStop(int twips, bool bar);
    void rowDefinition();
    const RowDef &rowFor(int depth);
    bool lateRowDefinition(int depth, RowDef &def, const char *&until);
    void cellBoundary(int twips);
    void borderStyle(bool drawn, LineStyle style = LineStyle::Single);
    BorderLine *cellLine();
    // Changes the lines the last border word named: one side of the next
    // cell, or sides of the paragraph's box.
    template <class Change> void changeLines(Change change)
    {
        if (BorderLine *line = cellLine()) {
            change(*line);
        } else if (m_borderOf == BorderOf::Paragraph) {
            for (size_t side = 0; side < 4; ++side)
                if (m_borderSide & (1u << side))
                    change(para().lines[side]);
        } else if (m_borderOf == BorderOf::Row) {
            for (size_t side = 0; side < rowDef().lines.size(); ++side)
                if (m_borderSide & (1u << side))
                    change(rowDef().lines[side]);
        }
    }
    void label();
    void oldNumberingGroup();
    void closeStructureGroup(const State &closed);
    void finishColorEntry();
    void finishPicture();
    int codePageFor(int font) const;
    int currentCodePage() const;
    bool skippingFallback()
    {
        if (m_skipChars > 0) {
            --m_skipChars;
            return true;
        }
        return false;
    }
    bool inBody() const { return m_state.dest == Dest::Body; }
    bool inLists() const { return m_state.dest == Dest::ListTable; }
    bool dbch() const { return m_state.runType == RunType::Dbch; }
    CharProps &props() { return m_state.props; }
    ParaProps &para() { return m_state.para; }
    RowDef &rowDef() { return m_rowDefs[size_t(m_rowDefLevel)]; }
    // The paragraph takes style `number`'s words (0 after \pard), those
    // that other readers take from the style: its own words come after.
    void paragraphStyle(int number);
    // \yts: what style 0 gave the paragraph is the table style's instead.
    void tableStyled(int number);
    // The paragraph takes the style's words it does not state itself.
    void takeFromStyle(const ParagraphStyle &style);
    void readStyles();

    Tokenizer m_tokens;
    int m_defaultCodePage;
    QTextCursor &m_cursor;
    int m_ansiCodePage = 0;    // \ansicpg
    int m_charsetCodePage = 0; // \ansi (1252, as LibreOffice and Word take it), \mac, \pc, \pca

    State m_state;
    std::vector<State> m_stack;
    int m_overflow = 0; // groups opened beyond maxGroupDepth, skipped unparsed
    bool m_done = false;
    int m_skipChars = 0;

    Tables m_tables;
    Decoder m_decoder;
    FontTableReader m_fontTable;

    int m_red = -1, m_green = -1, m_blue = -1;

    Pict m_pict;
    PictureSink m_pictures;
    int m_footnotes = 0;

    ListDefinitions m_lists;
    ListTableReader m_listTable;
    OldNumberingReader m_pn; // the \pn group being read
    std::u16string m_label;  // the last \listtext or \pntext, shown when no list is made
    CharProps m_labelProps;
    bool m_haveLabel = false;
    std::array<RowDef, maxTableDepth + 1> m_rowDefs; // by table depth
    int m_rowDefLevel = 1;
    // A \trowd was read for the row going on at each depth. Without one, the
    // row's definition may come after its cells: what a look ahead found.
    std::array<bool, maxTableDepth + 1> m_rowDefRead{};
    struct LookedAhead {
        const char *until = nullptr; // rows beginning before this have `def`
        bool found = false;
        RowDef def;
    };
    std::array<LookedAhead, maxTableDepth + 1> m_lookedAhead{};
    BorderOf m_borderOf = BorderOf::Other;
    std::uint8_t m_borderSide = 0; // the BorderSide the last border word named
    ParaProps m_lastPara;          // the properties of a last paragraph without \par
    bool m_haveLastPara = false;
    bool m_atGroupStart = false;
    bool m_pageBreak = false;     // a \page or \sect waits for the next paragraph
    bool m_pageBreakHere = false; // the paragraph being read follows one
    QByteArray m_sectionHere;     // the section break the paragraph being read begins
    int m_sections = 0;           // section breaks given to a paragraph so far
    // Hidden text (\v) read since the last shown content: it is kept with
    // the next character, as Word keeps it when it does not show it.
    std::u16string m_hidden;

    std::string m_bytes; // consecutive \'xx bytes, decoded together
    int m_bytesCodePage = 0;
    TextRuns m_runs;
    StructureBuilder m_structure;
    Kept::Collector m_kept;
    // The style sheet's paragraph styles, read from the kept groups once
    // they hold it; how far those were searched for it.
    ParagraphStyles m_styles;
    qsizetype m_stylesSearched = 0;
    bool m_stylesRead = false;
};

} // namespace Inkwell::Rtf::Reading
