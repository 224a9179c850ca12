// One pass over the tokens with a stack of group states; one table binds each
// keyword to what it does. The text goes to TextRuns, the pictures to
// PictureSink. Destinations whose text is not document text are still
// tokenized, so that their \bin data and braces are skipped correctly.
#include "rtf/rtfreader.h"

#include "platform/codepage.h"
#include "rtf/rtfdecoder.h"
#include "rtf/rtfkept.h"
#include "rtf/rtfpicture.h"
#include "rtf/rtfstructure.h"
#include "rtf/rtftextruns.h"
#include "rtf/rtftokenizer.h"

#include <QColor>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using namespace std::string_view_literals;

namespace Inkwell::Rtf {

bool looksLikeRtf(QByteArrayView bytes)
{
    return bytes.startsWith("{\\rtf");
}

namespace {

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
    Skip
};
enum class BorderOf : std::uint8_t { Other, Cell, Row };
enum class RunType : std::uint8_t { None, Loch, Hich, Dbch };

struct State {
    CharProps props;
    ParaProps para;
    Dest dest = Dest::Body;
    RunType runType = RunType::None;
    bool starred = false;   // "\*" seen: an unknown destination word is skipped
    bool ownsPict = false;  // this group opened the \pict being read
    bool fontEntry = false; // this group is one {\fN ...;} entry of the font table
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
          m_pictures(cursor.document(), pictureBudget), m_runs(cursor, m_tables),
          m_structure(cursor, m_runs, m_tables, m_lists, m_rowDefs),
          m_kept(cursor, m_runs, m_tables)
    {
        m_stack.reserve(64);
        m_structure.setMoveWatch([this](int from) { m_kept.pin(from); },
                                 [this] { m_kept.unpin(); });
    }

    void run();
    DocumentImages::BudgetUse pictureUse() const { return m_pictures.use(); }
    qint64 keptDropped() const { return m_kept.droppedBytes(); }

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
    static void sectionBreak(Reader &r, Word)
    {
        if (r.inBody() && r.m_runs.paragraphHasContent())
            r.paragraphEnd();
    }
    template <bool nested> static void cellEnd(Reader &r, Word)
    {
        if (!r.inBody())
            return;
        r.settleLabel();
        r.m_structure.cellEnd(r.para(), nested);
    }
    template <bool nested> static void rowEnd(Reader &r, Word)
    {
        if (!r.inBody())
            return;
        r.settleLabel();
        const int depth = nested ? std::clamp(r.para().depth(), 2, maxTableDepth) : 1;
        r.m_structure.rowEnd(r.para(), nested, r.m_rowDefs[size_t(depth)]);
    }
    template <Qt::Alignment::enum_type align> static void alignment(Reader &r, Word)
    {
        r.para().alignment = align;
    }
    template <int ParaProps::*value> static void paraValue(Reader &r, Word w)
    {
        r.para().*value = std::clamp(w.param, -31680, 31680);
    }
    template <QTextOption::TabType type> static void tabType(Reader &r, Word)
    {
        r.para().nextTabType = type;
    }
    template <int CellDef::*value> static void cellValue(Reader &r, Word w)
    {
        r.rowDef().next.*value = w.param;
    }
    template <BorderOf target, std::uint8_t side = 0> static void borderOf(Reader &r, Word)
    {
        r.m_borderOf = target;
        r.m_borderSide = side;
    }
    template <QTextListFormat::Style style> static void pnStyle(Reader &r, Word)
    {
        if (r.m_state.dest == Dest::PnDef)
            r.m_pnStyle = style;
    }
    template <char16_t c> static void put(Reader &r, Word) { r.appendChar(c); }
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
    // Handlers that take more than a line.
    void ansiCodePage(int codePage);
    void fontCharset(int charset);
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
    void settleLabel();
    void tabStop(int twips, bool bar);
    void rowDefinition();
    void cellBoundary(int twips);
    void borderStyle(bool drawn);
    void listWord(std::string_view word, Word w);
    void levelNumberFormat(int nfc);
    void finishLevelText();
    void oldNumbering(int level, bool bullet);
    void closeStructureGroup(const State &closed);
    void finishFontEntry();
    int fontEntryCodePage() const;
    void fontNameUnit(char16_t unit);
    void finishColorEntry();
    void finishPicture();
    int codePageFor(int font) const;
    int currentCodePage() const;
    // \ansicpg, else the character set the header names, else the caller's.
    int documentCodePage() const
    {
        if (m_ansiCodePage > 0)
            return m_ansiCodePage;
        return m_charsetCodePage > 0 ? m_charsetCodePage : m_defaultCodePage;
    }
    bool skippingFallback()
    {
        if (m_skipChars > 0) {
            --m_skipChars;
            return true;
        }
        return false;
    }
    bool inBody() const { return m_state.dest == Dest::Body; }
    bool dbch() const { return m_state.runType == RunType::Dbch; }
    CharProps &props() { return m_state.props; }
    ParaProps &para() { return m_state.para; }
    RowDef &rowDef() { return m_rowDefs[size_t(m_rowDefLevel)]; }

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
    int m_fontNumber = -1;
    int m_fontCharset = -1;
    std::string m_fontName;          // the entry's bytes since its last \uN
    std::u16string m_fontNameDecoded; // what came before them, decoded

    int m_red = -1, m_green = -1, m_blue = -1;

    Pict m_pict;
    PictureSink m_pictures;
    int m_footnotes = 0;

    ListDefinitions m_lists;
    std::array<ListLevel, 9> m_listLevels;
    int m_levelIndex = -1; // the \listlevel being read
    int m_listId = 0;
    int m_overrideNumber = 0;
    std::u16string m_levelText;
    OldNumbering m_pn; // the \pn group being read
    QTextListFormat::Style m_pnStyle = QTextListFormat::ListDecimal;
    bool m_pnBullet = false;
    std::u16string m_label; // the last \listtext or \pntext, shown when no list is made
    CharProps m_labelProps;
    bool m_haveLabel = false;
    std::array<RowDef, maxTableDepth + 1> m_rowDefs; // by table depth
    int m_rowDefLevel = 1;
    BorderOf m_borderOf = BorderOf::Other;
    std::uint8_t m_borderSide = 0; // the BorderSide the last border word named
    ParaProps m_lastPara; // the properties of a last paragraph without \par
    bool m_haveLastPara = false;
    bool m_atGroupStart = false;

    Decoder m_decoder;
    std::string m_bytes; // consecutive \'xx bytes, decoded together
    int m_bytesCodePage = 0;
    TextRuns m_runs;
    StructureBuilder m_structure;
    Kept::Collector m_kept;
};

// Every keyword the reader acts on, with its handler. Words not here are
// ignored, and so is the group of one that follows "\*". \bin never comes
// here: the tokenizer takes its data.
const std::unordered_map<std::string_view, const Reader::Keyword *> &Reader::keywords()
{
    // Short entries share a line.
    // clang-format off
    constexpr Handler underline = toggle<&CharProps::underline>;
    using Kind = Kept::Collector::Kind;
    constexpr Handler document = kept<Kind::Document>;
    constexpr Handler inlined = kept<Kind::Inline>;
    constexpr auto starredRead = Starred::Read;
    static const Keyword table[] = {
        // Destinations.
        {"fonttbl", [](Reader &r, Word) { r.fontTable(); }},
        {"colortbl", [](Reader &r, Word) { r.colorTable(); }},
        {"pict", [](Reader &r, Word) { r.picture(); }, Starred::Read},
        {"shppict", keep, Starred::Read}, {"fldrslt", keep, Starred::Read},
        {"field", [](Reader &r, Word) { r.m_kept.field(r.m_tokens.position()); }},
        {"object", keep}, {"result", keep},
        // Destinations whose text is not part of the document body. These
        // are kept and written back: the document's own, and those in the text.
        {"stylesheet", document}, {"info", document}, {"header", document},
        {"headerl", document}, {"headerr", document}, {"headerf", document},
        {"footer", document}, {"footerl", document}, {"footerr", document},
        {"footerf", document}, {"generator", document, starredRead},
        {"footnote", kept<Kind::Footnote>, starredRead}, {"bkmkstart", inlined, starredRead},
        {"bkmkend", inlined, starredRead}, {"fldinst", kept<Kind::FieldInstruction>, starredRead},
        {"shp", inlined},
        {"pntext", [](Reader &r, Word) { r.listWord("pntext", {}); }},
        {"listtext", [](Reader &r, Word) { r.listWord("listtext", {}); }}, {"objdata", skip},
        {"objclass", skip},
        {"objname", skip}, {"template", skip}, {"xe", skip}, {"tc", skip}, {"txe", skip},
        {"rxe", skip}, {"ftnsep", skip}, {"ftnsepc", skip}, {"ftncn", skip}, {"aftnsep", skip},
        {"aftnsepc", skip}, {"aftncn", skip},
        {"listtable", [](Reader &r, Word w) { r.listWord("listtable", w); }, Starred::Read},
        {"listoverridetable", [](Reader &r, Word w) { r.listWord("listtable", w); },
         Starred::Read},
        {"revtbl", skip}, {"rsidtbl", skip}, {"nonshppict", skip}, {"nonesttables", skip},
        {"themedata", skip}, {"colorschememapping", skip}, {"latentstyles", skip},
        {"datastore", skip}, {"xmlnstbl", skip},
        {"annotation", skip}, {"atnid", skip}, {"atnauthor", skip}, {"atrfstart", skip},
        {"atrfend", skip}, {"atndate", skip}, {"atnref", skip},
        {"pgdsctbl", skip}, {"filetbl", skip}, {"mmathPr", skip}, {"author", skip}, {"title", skip},
        {"subject", skip}, {"operator", skip}, {"keywords", skip}, {"comment", skip},
        {"doccomm", skip}, {"company", skip}, {"manager", skip}, {"category", skip},
        {"userprops", skip}, {"docvar", skip}, {"fchars", skip}, {"lchars", skip}, {"pgptbl", skip},
        {"protusertbl", skip}, {"pnseclvl", skip},
        {"listpicture", skip}, {"shpinst", skip}, {"sp", skip}, {"sn", skip}, {"sv", skip},
        {"falt", skip}, {"panose", skip}, {"fname", skip},
        {"shprslt", skip}, {"do", skip}, {"blipuid", skip}, {"picprop", skip}, {"upr", skip},
        {"ud", skip}, {"passwordhash", skip}, {"wgrffmtfilter", skip}, {"mmath", skip},
        {"ftnalt", skip}, {"fontemb", skip}, {"fontfile", skip}, {"private", skip},
        {"printim", skip}, {"buptim", skip}, {"creatim", skip}, {"revtim", skip},
        {"hlinkbase", skip}, {"linkval", skip}, {"oleclsid", skip}, {"ebcstart", skip},
        {"ebcend", skip}, {"formfield", skip}, {"gridtbl", skip},
        {"nesttableprops", [](Reader &r, Word) { r.m_state.nestProps = true; }, Starred::Read},
        // The header, the font and colour tables.
        {"ansicpg", [](Reader &r, Word w) { r.ansiCodePage(w.param); }},
        {"ansi", charset<1252>}, {"mac", charset<10000>}, {"pc", charset<437>},
        {"pca", charset<850>},
        {"deff", [](Reader &r, Word w) { r.m_tables.deff = w.param; }},
        {"fcharset", [](Reader &r, Word w) { r.fontCharset(w.param); }},
        {"red", [](Reader &r, Word w) { r.m_red = std::clamp(w.param, 0, 255); }},
        {"green", [](Reader &r, Word w) { r.m_green = std::clamp(w.param, 0, 255); }},
        {"blue", [](Reader &r, Word w) { r.m_blue = std::clamp(w.param, 0, 255); }},
        // Character formatting.
        {"f", [](Reader &r, Word w) { r.fontNumber(w.param); }},
        {"fs", [](Reader &r, Word w) { r.fontSize(w); }},
        {"b", toggle<&CharProps::bold>}, {"i", toggle<&CharProps::italic>},
        {"strike", toggle<&CharProps::strike>}, {"striked", toggle<&CharProps::strike>},
        {"super", [](Reader &r, Word) { r.props().script = 1; }},
        {"sub", [](Reader &r, Word) { r.props().script = -1; }},
        {"nosupersub", [](Reader &r, Word) { r.props().script = 0; }},
        {"ul", underline}, {"uld", underline}, {"uldb", underline}, {"ulw", underline},
        {"ulwave", underline}, {"uldash", underline}, {"uldashd", underline},
        {"uldashdd", underline}, {"ulth", underline}, {"ulthd", underline}, {"ulthdash", underline},
        {"ulthdashd", underline}, {"ulthdashdd", underline}, {"ulhwave", underline},
        {"ululdbwave", underline}, {"ulldash", underline}, {"ulthldash", underline},
        {"ulnone", [](Reader &r, Word) { r.props().underline = false; }},
        // \cf0 is the automatic colour, whatever entry 0 of the table says.
        {"cf", [](Reader &r, Word w) { r.props().color = w.param > 0 ? w.param : -1; }},
        {"plain", [](Reader &r, Word) { r.props() = CharProps(); }},
        {"loch", runType<RunType::Loch>}, {"hich", runType<RunType::Hich>},
        {"dbch", runType<RunType::Dbch>},
        {"af", [](Reader &r, Word w) { r.associatedFont(w.param); }},
        // The associated size, bold and italic of \dbch text: what LibreOffice
        // writes for a Chinese heading.
        {"afs", [](Reader &r, Word w) { if (r.dbch()) r.fontSize(w); }},
        {"ab", [](Reader &r, Word w) { if (r.dbch()) r.props().bold = w.on(); }},
        {"ai", [](Reader &r, Word w) { if (r.dbch()) r.props().italic = w.on(); }},
        {"uc", [](Reader &r, Word w) { r.m_state.uc = std::clamp(w.param, 0, 100); }},
        {"u", [](Reader &r, Word w) { r.unicode(w.param); }},
        // Breaks and special characters.
        {"par", paragraphEnd}, {"sect", sectionBreak}, {"page", sectionBreak},
        {"cell", cellEnd<false>}, {"nestcell", cellEnd<true>}, {"row", rowEnd<false>},
        {"nestrow", rowEnd<true>},
        // Paragraph formatting.
        {"pard", [](Reader &r, Word) { r.para() = ParaProps(); }},
        {"ql", alignment<Qt::AlignLeft>}, {"qc", alignment<Qt::AlignHCenter>},
        {"qr", alignment<Qt::AlignRight>}, {"qj", alignment<Qt::AlignJustify>},
        {"rtlpar", [](Reader &r, Word) { r.para().rightToLeft = true; }},
        {"ltrpar", [](Reader &r, Word) { r.para().rightToLeft = false; }},
        {"li", paraValue<&ParaProps::leftIndent>}, {"lin", paraValue<&ParaProps::leftIndent>},
        {"ri", paraValue<&ParaProps::rightIndent>}, {"rin", paraValue<&ParaProps::rightIndent>},
        {"fi", paraValue<&ParaProps::firstIndent>}, {"sb", paraValue<&ParaProps::spaceBefore>},
        {"sa", paraValue<&ParaProps::spaceAfter>}, {"sl", paraValue<&ParaProps::lineSpacing>},
        {"slmult", [](Reader &r, Word w) { r.para().lineMultiple = w.on(); }},
        {"tx", [](Reader &r, Word w) { r.tabStop(w.param, false); }},
        {"tb", [](Reader &r, Word w) { r.tabStop(w.param, true); }},
        {"tqr", tabType<QTextOption::RightTab>}, {"tqc", tabType<QTextOption::CenterTab>},
        {"tqdec", tabType<QTextOption::DelimiterTab>},
        {"intbl", [](Reader &r, Word w) { r.para().inTable = w.on(); }},
        {"itap", [](Reader &r, Word w) { r.para().nesting = std::clamp(w.param, 0, 1000); }},
        {"ls", [](Reader &r, Word w) { r.listWord("ls", w); }},
        {"ilvl", [](Reader &r, Word w) { r.para().listLevel = std::clamp(w.param, 0, 8); }},
        // Lists.
        {"list", [](Reader &r, Word w) { r.listWord("list", w); }},
        {"listoverride", [](Reader &r, Word w) { r.listWord("listoverride", w); }},
        {"listid", [](Reader &r, Word w) { r.listWord("listid", w); }},
        {"listlevel", [](Reader &r, Word w) { r.listWord("listlevel", w); }},
        {"levelnfc", [](Reader &r, Word w) { r.levelNumberFormat(w.param); }},
        {"levelnfcn", [](Reader &r, Word w) { r.levelNumberFormat(w.param); }},
        {"levelstartat", [](Reader &r, Word w) { r.listWord("levelstartat", w); }},
        {"leveltext", [](Reader &r, Word w) { r.listWord("leveltext", w); }},
        {"pn", [](Reader &r, Word w) { r.listWord("pn", w); }, Starred::Read},
        {"pntxta", [](Reader &r, Word w) { r.listWord("pntxta", w); }},
        {"pntxtb", [](Reader &r, Word w) { r.listWord("pntxtb", w); }},
        {"pnlvlblt", [](Reader &r, Word) { r.oldNumbering(0, true); }},
        {"pnlvlbody", [](Reader &r, Word) { r.oldNumbering(0, false); }},
        {"pnlvl", [](Reader &r, Word w) { r.oldNumbering(w.param - 1, false); }},
        {"pndec", pnStyle<QTextListFormat::ListDecimal>},
        {"pnucltr", pnStyle<QTextListFormat::ListUpperAlpha>},
        {"pnlcltr", pnStyle<QTextListFormat::ListLowerAlpha>},
        {"pnucrm", pnStyle<QTextListFormat::ListUpperRoman>},
        {"pnlcrm", pnStyle<QTextListFormat::ListLowerRoman>},
        {"pnstart", [](Reader &r, Word w) { r.listWord("pnstart", w); }},
        // Table rows.
        {"trowd", [](Reader &r, Word) { r.rowDefinition(); }},
        {"cellx", [](Reader &r, Word w) { r.cellBoundary(w.param); }},
        {"trgaph", [](Reader &r, Word w) { r.rowDef().gap = w.param; }},
        {"trleft", [](Reader &r, Word w) { r.rowDef().left = w.param; }},
        {"clmgf", [](Reader &r, Word) { r.rowDef().next.hmerge = 1; }},
        {"clmrg", [](Reader &r, Word) { r.rowDef().next.hmerge = 2; }},
        {"clvmgf", [](Reader &r, Word) { r.rowDef().next.vmerge = 1; }},
        {"clvmrg", [](Reader &r, Word) { r.rowDef().next.vmerge = 2; }},
        {"clcbpat", cellValue<&CellDef::pattern>}, {"clshdng", cellValue<&CellDef::shading>},
        {"clbrdrt", borderOf<BorderOf::Cell, TopSide>},
        {"clbrdrl", borderOf<BorderOf::Cell, LeftSide>},
        {"clbrdrb", borderOf<BorderOf::Cell, BottomSide>},
        {"clbrdrr", borderOf<BorderOf::Cell, RightSide>},
        {"trbrdrt", borderOf<BorderOf::Row, TopSide>},
        {"trbrdrl", borderOf<BorderOf::Row, LeftSide>},
        {"trbrdrb", borderOf<BorderOf::Row, BottomSide>},
        {"trbrdrr", borderOf<BorderOf::Row, RightSide>},
        {"trbrdrh", borderOf<BorderOf::Row, InsideHorizontal>},
        {"trbrdrv", borderOf<BorderOf::Row, InsideVertical>},
        {"brdrt", borderOf<BorderOf::Other>}, {"brdrb", borderOf<BorderOf::Other>},
        {"brdrl", borderOf<BorderOf::Other>}, {"brdrr", borderOf<BorderOf::Other>},
        {"brdrbox", borderOf<BorderOf::Other>}, {"box", borderOf<BorderOf::Other>},
        {"brdrbtw", borderOf<BorderOf::Other>}, {"brdrbar", borderOf<BorderOf::Other>},
        {"chbrdr", borderOf<BorderOf::Other>},
        {"brdrnone", [](Reader &r, Word) { r.borderStyle(false); }},
        {"brdrs", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrth", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrsh", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrdb", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrdot", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrdash", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrhair", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrtriple", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrinset", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdroutset", [](Reader &r, Word) { r.borderStyle(true); }},
        {"chftn", [](Reader &r, Word) { r.footnoteMark(); }},
        {"line", put<0x2028>}, {"tab", put<u'\t'>}, {"emdash", put<0x2014>},
        {"endash", put<0x2013>}, {"emspace", put<0x2003>}, {"enspace", put<0x2002>},
        {"qmspace", put<0x2005>}, {"bullet", put<0x2022>}, {"lquote", put<0x2018>},
        {"rquote", put<0x2019>}, {"ldblquote", put<0x201C>}, {"rdblquote", put<0x201D>},
        {"zwj", put<0x200D>}, {"zwnj", put<0x200C>}, {"ltrmark", put<0x200E>},
        {"rtlmark", put<0x200F>}, {"zwbo", put<0x200B>}, {"zwnbo", put<0xFEFF>},
        // Pictures.
        {"pngblip", pictKind<PictKind::Png>}, {"jpegblip", pictKind<PictKind::Jpeg>},
        {"dibitmap", pictKind<PictKind::Dib>}, {"wbitmap", pictKind<PictKind::Wbitmap>},
        {"wmetafile", metafile<"wmetafile">}, {"emfblip", metafile<"emfblip">},
        {"macpict", metafile<"macpict">}, {"pmmetafile", metafile<"pmmetafile">},
        {"picw", pictValue<&Pict::picw>}, {"pich", pictValue<&Pict::pich>},
        {"picwgoal", pictValue<&Pict::goalw>}, {"pichgoal", pictValue<&Pict::goalh>},
        {"picscalex", pictValue<&Pict::scalex>}, {"picscaley", pictValue<&Pict::scaley>},
        {"wbmbitspixel", pictValue<&Pict::bitsPixel>},
        {"wbmwidthbytes", pictValue<&Pict::widthBytes>},
    };
    // clang-format on
    static const auto byWord = [] {
        std::unordered_map<std::string_view, const Keyword *> map;
        for (const Keyword &keyword : table)
            map.emplace(keyword.word, &keyword);
        return map;
    }();
    return byWord;
}

void Reader::run()
{
    while (!m_done) {
        const Token token = m_tokens.next();
        if (token.type == Token::Type::End)
            break;
        if (m_overflow > 0) {
            skipOverflow(token);
            continue;
        }
        // "\*" marks a destination only right after the group's "{".
        const bool atGroupStart = m_atGroupStart;
        m_atGroupStart = token.type == Token::Type::GroupStart;
        switch (token.type) {
        case Token::Type::End:
            break;
        case Token::Type::GroupStart:
            openGroup();
            break;
        case Token::Type::GroupEnd:
            closeGroup();
            break;
        case Token::Type::ControlWord:
            if (!skippingFallback()) {
                flushBytes();
                controlWord(token.text, {token.value, token.hasParam});
            }
            break;
        case Token::Type::ControlSymbol:
            if (token.symbol == '*')
                m_state.starred = atGroupStart;
            else
                controlSymbol(token.symbol);
            break;
        case Token::Type::Hex:
            if (!skippingFallback() && token.value >= 0)
                hexByte(static_cast<unsigned char>(token.value));
            break;
        case Token::Type::Binary:
            binary(token.text);
            break;
        case Token::Type::Text:
            text(token.text);
            break;
        }
    }
    // End of data, closed or not: keep what was read.
    flushBytes();
    settleLabel();
    m_structure.finish(m_haveLastPara ? m_lastPara : m_state.para);
    m_kept.finish();
}

void Reader::skipOverflow(const Token &token)
{
    // Too deep: only the braces matter until the group is closed again (the
    // tokenizer has taken any \bin data, which may contain braces).
    if (token.type == Token::Type::GroupStart)
        ++m_overflow;
    else if (token.type == Token::Type::GroupEnd)
        --m_overflow;
}

void Reader::openGroup()
{
    flushBytes();
    m_skipChars = 0;
    if (m_stack.size() >= size_t(maxGroupDepth)) {
        m_overflow = 1;
        return;
    }
    m_stack.push_back(m_state);
    m_kept.open(m_tokens.position() - 1);
    m_state.starred = false;
    m_state.ownsPict = false;
    m_state.fontEntry = false;
    m_state.ownsList = m_state.ownsOverride = m_state.ownsLevelText = false;
    m_state.ownsLabel = m_state.ownsPn = false;
}

void Reader::closeGroup()
{
    flushBytes();
    m_skipChars = 0;
    if (m_state.dest == Dest::FontTable &&
        (m_state.fontEntry || !m_fontName.empty() || !m_fontNameDecoded.empty()))
        finishFontEntry();
    if (m_state.ownsPict)
        finishPicture();
    if (m_stack.size() == 1 && m_runs.paragraphHasContent()) {
        // The document ends without a \par: its last paragraph has the
        // properties it had inside the document's group.
        m_lastPara = m_state.para;
        m_haveLastPara = true;
    }
    if (m_stack.empty()) {
        m_done = true;
        return;
    }
    m_kept.close(m_tokens.position());
    const State closed = std::move(m_state);
    m_state = std::move(m_stack.back());
    m_stack.pop_back();
    closeStructureGroup(closed);
    if (m_stack.empty())
        m_done = true; // the document's outer group is closed; anything after it is not RTF
}

void Reader::binary(std::string_view data)
{
    // Binary data is skipped (or taken as picture data) by count, even when
    // it stands in for a fallback character.
    if (m_skipChars > 0)
        --m_skipChars;
    flushBytes();
    if (m_state.dest == Dest::Pict)
        m_pict.addBinary(data);
}

void Reader::controlSymbol(char c)
{
    if (skippingFallback())
        return;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        if (inBody())
            appendChar(char16_t(c));
        else
            textByte(static_cast<unsigned char>(c));
        break;
    case '~':
        appendChar(0x00A0);
        break;
    case '-':
        appendChar(0x00AD);
        break;
    case '_':
        appendChar(0x2011);
        break;
    case '\r':
    case '\n':
        flushBytes();
        if (inBody())
            paragraphEnd();
        break;
    case '\t':
        appendChar(u'\t');
        break;
    default:
        break; // \| \: and the like carry nothing we show
    }
}

void Reader::controlWord(std::string_view word, Word param)
{
    const auto &table = keywords();
    const auto found = table.find(word);
    const bool starred = m_state.starred;
    m_state.starred = false;
    if (found == table.end()) {
        if (starred)
            kept<Kept::Collector::Kind::Unknown>(*this, param);
        else if (inBody())
            m_kept.documentWord(word, param.param, param.hasParam);
        return;
    }
    if (m_state.dest == Dest::Skip)
        return;
    if (starred && found->second->starred == Starred::Skip) {
        skip(*this, param);
        return;
    }
    found->second->handle(*this, param);
}

void Reader::fontTable()
{
    // Text read so far keeps the fonts and colours it was read with.
    m_runs.flush();
    m_state.dest = Dest::FontTable;
    m_fontNumber = -1;
    m_fontName.clear();
    m_fontNameDecoded.clear();
}

void Reader::colorTable()
{
    m_runs.flush();
    m_state.dest = Dest::ColorTable;
    m_tables.colors.clear();
    m_runs.tablesChanged();
    m_red = m_green = m_blue = -1;
}

void Reader::picture()
{
    if (!inBody()) {
        m_state.dest = Dest::Skip;
        return;
    }
    m_state.dest = Dest::Pict;
    m_state.ownsPict = true;
    m_pict = Pict();
}

void Reader::fontNumber(int number)
{
    if (m_state.runType == RunType::Dbch)
        props().eastAsianFont = number;
    if (m_state.dest != Dest::FontTable) {
        props().font = number;
        return;
    }
    if (!m_fontName.empty())
        finishFontEntry();
    m_fontNumber = number;
    m_fontCharset = -1;
    m_fontName.clear();
    m_fontNameDecoded.clear();
    m_state.fontEntry = true;
}

void Reader::unicode(int param)
{
    const auto unit = static_cast<char16_t>(static_cast<std::uint16_t>(param));
    if (inBody() || m_state.dest == Dest::Label)
        appendChar(unit);
    else if (m_state.dest == Dest::FontTable)
        fontNameUnit(unit);
    else if (m_state.dest == Dest::LevelText && m_levelText.size() < 256)
        m_levelText.push_back(unit);
    m_skipChars = m_state.uc;
}

void Reader::ansiCodePage(int codePage)
{
    if (codePage > 0 && codePage < 65536 && CodePage::isSupported(codePage))
        m_ansiCodePage = codePage;
}

void Reader::fontCharset(int charset)
{
    if (m_state.dest == Dest::FontTable)
        m_fontCharset = charset;
}

void Reader::fontSize(Word w)
{
    props().halfPoints = w.hasParam && w.param > 0 ? std::min(w.param, 3276) : 24;
}

// \af names the font of the script \loch/\hich/\dbch selected; only the
// East-Asian one matters here (the others are Latin faces too).
void Reader::associatedFont(int font)
{
    if (m_state.runType == RunType::Dbch)
        props().eastAsianFont = font;
}

void Reader::footnoteMark()
{
    if (!inBody())
        return;
    ++m_footnotes;
    flushBytes();
    beginContent();
    m_runs.flush();
    const int from = m_cursor.position();
    const QString number = QString::number(m_footnotes);
    for (QChar c : number)
        appendChar(c.unicode());
    m_runs.flush();
    m_kept.footnoteMark(from, m_cursor.position(), number);
}

void Reader::text(std::string_view bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (inBody() && m_skipChars == 0 && m_bytes.empty() && c >= 0x20 && c < 0x80) {
            // The common case: a stretch of plain ASCII text.
            const size_t start = i;
            while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x20 &&
                   static_cast<unsigned char>(bytes[i]) < 0x80)
                ++i;
            beginContent();
            m_runs.add(QLatin1StringView(bytes.data() + start, qsizetype(i - start)), props());
            continue;
        }
        ++i;
        if (c == '\t') {
            if (!skippingFallback() && (inBody() || m_state.dest == Dest::Label))
                appendChar(u'\t');
        } else {
            textByte(c);
        }
    }
}

void Reader::textByte(unsigned char byte)
{
    if (skippingFallback())
        return;
    switch (m_state.dest) {
    case Dest::Body:
    case Dest::Label:
        if (byte < 0x80) {
            flushBytes();
            if (byte >= 0x20)
                appendChar(byte);
        } else {
            hexByte(byte);
        }
        break;
    case Dest::FontTable:
        if (byte == ';')
            finishFontEntry();
        else if (m_fontName.size() < 1024)
            m_fontName.push_back(char(byte));
        break;
    case Dest::ColorTable:
        if (byte == ';')
            finishColorEntry();
        break;
    case Dest::Pict:
        m_pict.addHexDigit(byte);
        break;
    case Dest::LevelText:
        if (byte != ';' && m_levelText.size() < 256)
            m_levelText.push_back(byte);
        break;
    case Dest::PnText: {
        QString &text = m_state.pnAfter ? m_pn.look.suffix : m_pn.look.prefix;
        if (byte >= 0x20 && text.size() < 32)
            text.append(QChar(byte));
        break;
    }
    default:
        break;
    }
}

void Reader::hexByte(unsigned char byte)
{
    switch (m_state.dest) {
    case Dest::Body:
    case Dest::Label: {
        const int codePage = currentCodePage();
        if (!m_bytes.empty() && codePage != m_bytesCodePage)
            flushBytes();
        m_bytesCodePage = codePage;
        m_bytes.push_back(char(byte));
        break;
    }
    case Dest::FontTable:
        if (m_fontName.size() < 1024)
            m_fontName.push_back(char(byte));
        break;
    case Dest::LevelText:
        if (m_levelText.size() < 256)
            m_levelText.push_back(byte);
        break;
    case Dest::PnText:
        textByte(byte);
        break;
    default:
        break;
    }
}

int Reader::codePageFor(int font) const
{
    const auto found = m_tables.fonts.find(font < 0 ? m_tables.deff : font);
    if (found == m_tables.fonts.end() || found->second.charset < 0)
        return 0;
    return CodePage::fromCharset(found->second.charset);
}

int Reader::currentCodePage() const
{
    int codePage = codePageFor(m_state.props.font);
    if (m_state.runType == RunType::Dbch && m_state.props.eastAsianFont >= 0) {
        // Double-byte text may name its East-Asian font only through \af.
        const int associated = codePageFor(m_state.props.eastAsianFont);
        if (CodePage::isDoubleByte(associated))
            codePage = associated;
    }
    if (codePage == 0)
        codePage = documentCodePage();
    return codePage;
}

void Reader::flushBytes()
{
    if (m_bytes.empty())
        return;
    const std::u16string &decoded = m_decoder.decode(m_bytes, m_bytesCodePage);
    m_bytes.clear();
    if (m_state.dest == Dest::Label) {
        for (char16_t unit : decoded)
            if ((unit >= 0x20 || unit == u'\t') && m_label.size() < 256)
                m_label.push_back(unit);
        return;
    }
    beginContent();
    for (char16_t unit : decoded)
        if (unit >= 0x20 || unit == u'\t')
            m_runs.add(unit, props());
}

void Reader::appendChar(char16_t c)
{
    // Control characters (\u10 and the like) would split paragraphs.
    if (c < 0x20 && c != u'\t')
        return;
    if (m_state.dest == Dest::Label) {
        flushBytes();
        if (m_label.size() < 256)
            m_label.push_back(c);
        return;
    }
    if (!inBody())
        return;
    flushBytes();
    beginContent();
    m_runs.add(c, props());
}

int Reader::fontEntryCodePage() const
{
    const int codePage = m_fontCharset >= 0 ? CodePage::fromCharset(m_fontCharset) : 0;
    return codePage != 0 ? codePage : documentCodePage();
}

// A \uN in a font's name: what its bytes said so far is decoded first.
void Reader::fontNameUnit(char16_t unit)
{
    if (m_fontNameDecoded.size() >= 1024)
        return;
    m_fontNameDecoded += m_decoder.decodeWhole(m_fontName, fontEntryCodePage());
    m_fontName.clear();
    m_fontNameDecoded.push_back(unit);
}

void Reader::finishFontEntry()
{
    if (m_fontNumber >= 0) {
        Font font;
        font.charset = m_fontCharset;
        const QString name =
            QString::fromStdU16String(m_fontNameDecoded +
                                      m_decoder.decodeWhole(m_fontName, fontEntryCodePage()));
        qsizetype begin = 0;
        qsizetype end = name.size();
        while (begin < end && name.at(begin) == u' ')
            ++begin;
        while (end > begin && name.at(end - 1) == u' ')
            --end;
        font.name = name.mid(begin, end - begin);
        m_tables.fonts[m_fontNumber] = font;
        m_runs.tablesChanged();
    }
    m_fontNumber = -1;
    m_fontCharset = -1;
    m_fontName.clear();
    m_fontNameDecoded.clear();
}

void Reader::finishColorEntry()
{
    m_tables.addColor(m_red, m_green, m_blue);
    m_red = m_green = m_blue = -1;
    m_runs.tablesChanged();
}

void Reader::finishPicture()
{
    const Pict pict = std::move(m_pict);
    m_pict = Pict();
    const std::optional<QTextImageFormat> image = m_pictures.place(pict);
    if (!image)
        return;
    flushBytes();
    beginContent();
    m_runs.insertImage(*image);
}

void Reader::beginContent()
{
    if (m_haveLabel)
        settleLabel();
    m_structure.content(m_state.para);
    // A kept group waiting for the character that follows it learns where
    // that is, after any table cell the content opened.
    if (m_kept.wantsPosition()) {
        m_runs.flush();
        m_kept.contentAt(m_cursor.position());
    }
}

void Reader::paragraphEnd()
{
    settleLabel();
    m_structure.paragraphEnd(m_state.para);
}

// The label an older reader shows goes into the text only when no list is
// made for the paragraph, so that no label is lost and none is doubled.
void Reader::settleLabel()
{
    if (!m_haveLabel)
        return;
    m_haveLabel = false;
    if (!m_label.empty() && !m_structure.listUnderstood(m_state.para)) {
        m_structure.content(m_state.para);
        for (char16_t c : m_label)
            m_runs.add(c, m_labelProps);
    }
    m_label.clear();
}

void Reader::tabStop(int twips, bool bar)
{
    std::vector<TabStop> &tabs = para().tabs;
    if (tabs.size() < 64)
        tabs.push_back(
            {std::clamp(twips, 0, 31680), bar ? QTextOption::LeftTab : para().nextTabType});
    para().nextTabType = QTextOption::LeftTab;
}

void Reader::rowDefinition()
{
    m_rowDefLevel = m_state.nestProps ? std::clamp(para().depth(), 2, maxTableDepth) : 1;
    rowDef() = RowDef();
    m_borderOf = BorderOf::Other;
}

void Reader::cellBoundary(int twips)
{
    RowDef &row = rowDef();
    if (row.cells.size() < size_t(maxCellsPerRow)) {
        row.next.right = twips;
        row.cells.push_back(row.next);
    }
    row.next = CellDef();
    m_borderOf = BorderOf::Other;
}

void Reader::borderStyle(bool drawn)
{
    std::uint8_t *sides = m_borderOf == BorderOf::Cell  ? &rowDef().next.sides
                          : m_borderOf == BorderOf::Row ? &rowDef().sides
                                                        : nullptr;
    if (!sides)
        return;
    if (drawn)
        *sides |= m_borderSide;
    else
        *sides &= std::uint8_t(~m_borderSide);
}

void Reader::levelNumberFormat(int nfc)
{
    if (m_state.dest != Dest::ListTable || m_levelIndex < 0 || m_levelIndex > 8)
        return;
    QTextListFormat::Style style = QTextListFormat::ListDecimal;
    switch (nfc) {
    case 1:
        style = QTextListFormat::ListUpperRoman;
        break;
    case 2:
        style = QTextListFormat::ListLowerRoman;
        break;
    case 3:
        style = QTextListFormat::ListUpperAlpha;
        break;
    case 4:
        style = QTextListFormat::ListLowerAlpha;
        break;
    case 23:
        style = QTextListFormat::ListDisc;
        break;
    case 255: // no number: the level text alone, which a list cannot show
        style = QTextListFormat::ListStyleUndefined;
        break;
    default:
        break; // other counting systems are shown as decimal numbers
    }
    m_listLevels[size_t(m_levelIndex)].style = style;
}

// The level text: its length, then the text with the numbers of the levels
// as characters 0 to 8. What stands before the first number is the prefix,
// what follows the last the suffix; a bullet's text is the bullet.
void Reader::finishLevelText()
{
    if (m_levelIndex < 0 || m_levelIndex > 8 || m_levelText.empty())
        return;
    ListLevel &level = m_listLevels[size_t(m_levelIndex)];
    const size_t length = std::min(size_t(m_levelText.front()), m_levelText.size() - 1);
    const std::u16string_view text = std::u16string_view(m_levelText).substr(1, length);
    if (level.style == QTextListFormat::ListDisc) {
        const char16_t bullet = text.empty() ? u'\x2022' : text.front();
        if (bullet == u'o' || bullet == 0x25E6 || bullet == 0x25CB)
            level.style = QTextListFormat::ListCircle;
        else if (bullet == 0xF0A7 || bullet == 0x25AA || bullet == 0x25A0 || bullet == 0xA7)
            level.style = QTextListFormat::ListSquare;
        return;
    }
    const size_t first = text.find_first_of(u"\x00\x01\x02\x03\x04\x05\x06\x07\x08"sv);
    if (first == std::u16string_view::npos) {
        level.prefix = QString::fromStdU16String(std::u16string(text));
        level.suffix.clear();
        return;
    }
    const size_t last = text.find_last_of(u"\x00\x01\x02\x03\x04\x05\x06\x07\x08"sv);
    level.prefix = QString::fromStdU16String(std::u16string(text.substr(0, first)));
    level.suffix = QString::fromStdU16String(std::u16string(text.substr(last + 1)));
}

void Reader::oldNumbering(int level, bool bullet)
{
    if (m_state.dest != Dest::PnDef || level < 0 || level > 8)
        return;
    m_pn.valid = true;
    m_pn.level = level;
    m_pnBullet = bullet;
}

// The list and override tables, the level texts, the list labels and the
// older numbering groups; `word` names what the handler is for.
void Reader::listWord(std::string_view word, Word w)
{
    const bool inLists = m_state.dest == Dest::ListTable;
    if (word == "listtable") {
        m_state.dest = Dest::ListTable;
    } else if (word == "list" && inLists) {
        m_state.ownsList = true;
        m_listLevels = {};
        m_levelIndex = -1;
        m_listId = 0;
    } else if (word == "listoverride" && inLists) {
        m_state.ownsOverride = true;
        m_listId = 0;
        m_overrideNumber = 0;
    } else if (word == "listid" && inLists) {
        m_listId = w.param;
    } else if (word == "listlevel" && inLists) {
        ++m_levelIndex;
        if (m_levelIndex >= 0 && m_levelIndex <= 8)
            m_listLevels[size_t(m_levelIndex)] = ListLevel();
    } else if (word == "levelstartat" && inLists) {
        if (m_levelIndex >= 0 && m_levelIndex <= 8)
            m_listLevels[size_t(m_levelIndex)].start = std::clamp(w.param, 0, 32767);
    } else if (word == "leveltext" && inLists) {
        m_state.dest = Dest::LevelText;
        m_state.ownsLevelText = true;
        m_levelText.clear();
    } else if (word == "ls") {
        if (inLists)
            m_overrideNumber = w.param;
        else
            para().listOverride = std::max(w.param, 0);
    } else if (word == "listtext" || word == "pntext") {
        if (!inBody()) {
            m_state.dest = Dest::Skip;
            return;
        }
        flushBytes();
        m_state.dest = Dest::Label;
        m_state.ownsLabel = true;
        m_label.clear();
        m_haveLabel = false;
    } else if (word == "pn") {
        if (!inBody()) {
            m_state.dest = Dest::Skip;
            return;
        }
        m_state.dest = Dest::PnDef;
        m_state.ownsPn = true;
        m_pn = OldNumbering();
        m_pnStyle = QTextListFormat::ListDecimal;
        m_pnBullet = false;
    } else if ((word == "pntxta" || word == "pntxtb") && m_state.dest == Dest::PnDef) {
        m_state.dest = Dest::PnText;
        m_state.pnAfter = word == "pntxta";
    } else if (word == "pnstart" && m_state.dest == Dest::PnDef) {
        m_pn.look.start = std::clamp(w.param, 0, 32767);
    }
}

void Reader::closeStructureGroup(const State &closed)
{
    if (closed.ownsLevelText)
        finishLevelText();
    if (closed.ownsList && m_lists.lists.size() < 4096)
        m_lists.lists[m_listId] = m_listLevels;
    if (closed.ownsOverride && m_lists.overrides.size() < 4096)
        m_lists.overrides[m_overrideNumber] = m_listId;
    if (closed.ownsLabel) {
        m_haveLabel = true;
        m_labelProps = closed.props;
    }
    if (closed.ownsPn) {
        // The group's numbering belongs to the paragraph around it.
        OldNumbering numbering = m_pn;
        if (numbering.valid) {
            numbering.look.style = m_pnBullet ? QTextListFormat::ListDisc : m_pnStyle;
            if (m_pnBullet)
                numbering.look.prefix = numbering.look.suffix = QString();
        }
        para().numbering = numbering;
    }
}

} // namespace

ReadResult read(QByteArrayView rtf, QTextCursor &cursor, int defaultCodePage, qint64 pictureBudget)
{
    if (!looksLikeRtf(rtf))
        return {false, QStringLiteral("不是 RTF 文档"), {}};
    if (cursor.isNull() || !cursor.document())
        return {false, QStringLiteral("无法插入 RTF 文档"), {}};
    cursor.beginEditBlock();
    if (cursor.hasSelection())
        cursor.removeSelectedText();
    Reader reader(rtf, cursor, defaultCodePage > 0 ? defaultCodePage : CodePage::systemAnsi(),
                  pictureBudget);
    reader.run();
    cursor.endEditBlock();
    return {true, {}, reader.pictureUse(), reader.keptDropped()};
}

} // namespace Inkwell::Rtf
