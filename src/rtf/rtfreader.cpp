// One pass over the tokens with a stack of group states; one table binds each
// keyword to what it does. The text goes to TextRuns, the pictures to
// PictureSink. Destinations whose text is not document text are still
// tokenized, so that their \bin data and braces are skipped correctly.
#include "rtf/rtfreader.h"

#include "platform/codepage.h"
#include "rtf/rtfdecoder.h"
#include "rtf/rtfkept.h"
#include "rtf/rtfpicture.h"
#include "rtf/rtftextruns.h"
#include "rtf/rtftokenizer.h"

#include <QColor>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

enum class Dest : std::uint8_t { Body, FontTable, ColorTable, Pict, Skip };
enum class RunType : std::uint8_t { None, Loch, Hich, Dbch };

struct State {
    CharProps props;
    Dest dest = Dest::Body;
    RunType runType = RunType::None;
    bool starred = false;   // "\*" seen: an unknown destination word is skipped
    bool ownsPict = false;  // this group opened the \pict being read
    bool fontEntry = false; // this group is one {\fN ...;} entry of the font table
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
          m_kept(cursor, m_runs, m_tables)
    {
        m_stack.reserve(64);
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
    template <void (TextRuns::*end)()> static void bodyOnly(Reader &r, Word)
    {
        if (r.inBody())
            (r.m_runs.*end)();
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
    void beginContent();
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
    void finishFontEntry();
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
    CharProps &props() { return m_state.props; }

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
    std::string m_fontName;

    int m_red = -1, m_green = -1, m_blue = -1;

    Pict m_pict;
    PictureSink m_pictures;
    int m_footnotes = 0;

    Decoder m_decoder;
    std::string m_bytes; // consecutive \'xx bytes, decoded together
    int m_bytesCodePage = 0;
    TextRuns m_runs;
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
        {"pntext", skip}, {"listtext", skip}, {"objdata", skip}, {"objclass", skip},
        {"objname", skip}, {"template", skip}, {"xe", skip}, {"tc", skip}, {"txe", skip},
        {"rxe", skip}, {"ftnsep", skip}, {"ftnsepc", skip}, {"ftncn", skip}, {"aftnsep", skip},
        {"aftnsepc", skip}, {"aftncn", skip}, {"listtable", skip}, {"listoverridetable", skip},
        {"revtbl", skip}, {"rsidtbl", skip}, {"nonshppict", skip}, {"nonesttables", skip},
        {"themedata", skip}, {"colorschememapping", skip}, {"latentstyles", skip},
        {"datastore", skip}, {"xmlnstbl", skip},
        {"annotation", skip}, {"atnid", skip}, {"atnauthor", skip}, {"atrfstart", skip},
        {"atrfend", skip}, {"atndate", skip}, {"atnref", skip},
        {"pgdsctbl", skip}, {"filetbl", skip}, {"mmathPr", skip}, {"author", skip}, {"title", skip},
        {"subject", skip}, {"operator", skip}, {"keywords", skip}, {"comment", skip},
        {"doccomm", skip}, {"company", skip}, {"manager", skip}, {"category", skip},
        {"userprops", skip}, {"docvar", skip}, {"fchars", skip}, {"lchars", skip}, {"pgptbl", skip},
        {"protusertbl", skip}, {"pnseclvl", skip}, {"pn", skip}, {"pntxta", skip}, {"pntxtb", skip},
        {"listpicture", skip}, {"shpinst", skip}, {"sp", skip}, {"sn", skip}, {"sv", skip},
        {"falt", skip}, {"panose", skip}, {"fname", skip}, {"nesttableprops", skip},
        {"shprslt", skip}, {"do", skip}, {"blipuid", skip}, {"picprop", skip}, {"upr", skip},
        {"ud", skip}, {"passwordhash", skip}, {"wgrffmtfilter", skip}, {"mmath", skip},
        {"ftnalt", skip}, {"fontemb", skip}, {"fontfile", skip}, {"private", skip},
        {"printim", skip}, {"buptim", skip}, {"creatim", skip}, {"revtim", skip},
        {"hlinkbase", skip}, {"linkval", skip}, {"oleclsid", skip}, {"ebcstart", skip},
        {"ebcend", skip}, {"formfield", skip}, {"gridtbl", skip},
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
        {"uc", [](Reader &r, Word w) { r.m_state.uc = std::clamp(w.param, 0, 100); }},
        {"u", [](Reader &r, Word w) { r.unicode(w.param); }},
        // Breaks and special characters.
        {"par", bodyOnly<&TextRuns::paragraphBreak>}, {"sect", bodyOnly<&TextRuns::sectionBreak>},
        {"page", bodyOnly<&TextRuns::sectionBreak>}, {"cell", bodyOnly<&TextRuns::cellEnd>},
        {"nestcell", bodyOnly<&TextRuns::cellEnd>}, {"row", bodyOnly<&TextRuns::rowEnd>},
        {"nestrow", bodyOnly<&TextRuns::rowEnd>},
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
    m_runs.finish();
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
}

void Reader::closeGroup()
{
    flushBytes();
    m_skipChars = 0;
    if (m_state.dest == Dest::FontTable && (m_state.fontEntry || !m_fontName.empty()))
        finishFontEntry();
    if (m_state.ownsPict)
        finishPicture();
    if (m_stack.empty()) {
        m_done = true;
        return;
    }
    m_kept.close(m_tokens.position());
    m_state = m_stack.back();
    m_stack.pop_back();
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
    if (c == '*') {
        m_state.starred = true;
        return;
    }
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
            m_runs.paragraphBreak();
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
    m_state.fontEntry = true;
}

void Reader::unicode(int param)
{
    const auto unit = static_cast<char16_t>(static_cast<std::uint16_t>(param));
    if (inBody())
        appendChar(unit);
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
            if (!skippingFallback() && inBody())
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
    case Dest::Skip:
        break;
    }
}

void Reader::hexByte(unsigned char byte)
{
    switch (m_state.dest) {
    case Dest::Body: {
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
    beginContent();
    for (char16_t unit : decoded)
        if (unit >= 0x20 || unit == u'\t')
            m_runs.add(unit, props());
}

void Reader::appendChar(char16_t c)
{
    // Control characters (\u10 and the like) would split paragraphs.
    if (!inBody() || (c < 0x20 && c != u'\t'))
        return;
    flushBytes();
    beginContent();
    m_runs.add(c, props());
}

void Reader::beginContent()
{
    m_runs.beginContent();
    if (m_kept.wantsPosition()) {
        m_runs.flush();
        m_kept.contentAt(m_cursor.position());
    }
}

void Reader::finishFontEntry()
{
    if (m_fontNumber >= 0) {
        Font font;
        font.charset = m_fontCharset;
        int codePage = m_fontCharset >= 0 ? CodePage::fromCharset(m_fontCharset) : 0;
        if (codePage == 0)
            codePage = documentCodePage();
        std::string_view name = m_fontName;
        while (!name.empty() && (name.front() == ' '))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' '))
            name.remove_suffix(1);
        font.name = QString::fromStdU16String(m_decoder.decodeWhole(name, codePage));
        m_tables.fonts[m_fontNumber] = font;
        m_runs.tablesChanged();
    }
    m_fontNumber = -1;
    m_fontCharset = -1;
    m_fontName.clear();
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
