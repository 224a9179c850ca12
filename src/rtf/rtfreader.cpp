// One pass over the bytes with a stack of group states. Text is collected in
// runs of equal formatting and inserted with one insertText() per run.
// Paragraph and cell ends wait until more content follows, so that the \par
// closing the last paragraph adds no empty one (LibreOffice reads it so, and
// the writer ends every paragraph with \par). Destinations whose text is not
// document text are still tokenized, so that their \bin data and braces are
// skipped correctly.
#include "rtf/rtfreader.h"

#include "platform/codepage.h"
#include "rtf/documentimages.h"

#include <QColor>
#include <QHash>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdint>
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

enum class Dest : std::uint8_t { Body, FontTable, ColorTable, Pict, Skip };
enum class RunType : std::uint8_t { None, Loch, Hich, Dbch };

struct CharProps {
    int font = -1;  // -1: the document's default font (\deff)
    int color = -1; // -1: automatic
    // The font for CJK characters when \dbch named one (\dbch\afN, \dbch\fN).
    int eastAsianFont = -1;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool operator==(const CharProps &) const = default;
};

struct CharPropsHash {
    size_t operator()(const CharProps &p) const
    {
        size_t h = std::hash<int>()(p.font);
        h = h * 31 + std::hash<int>()(p.color);
        h = h * 31 + std::hash<int>()(p.halfPoints);
        h = h * 31 + std::hash<int>()(p.eastAsianFont);
        return h * 16 + (p.bold ? 8 : 0) + (p.italic ? 4 : 0) + (p.underline ? 2 : 0) +
               (p.strike ? 1 : 0);
    }
};

struct State {
    CharProps props;
    Dest dest = Dest::Body;
    RunType runType = RunType::None;
    bool starred = false;   // "\*" seen: an unknown destination word is skipped
    bool ownsPict = false;  // this group opened the \pict being read
    bool fontEntry = false; // this group is one {\fN ...;} entry of the font table
    int uc = 1;
};

struct Font {
    QString name;
    int charset = -1;
};

enum class PictKind : std::uint8_t { Unknown, Png, Jpeg, Dib, Wbitmap, Metafile };

struct Pict {
    PictKind kind = PictKind::Unknown;
    int picw = 0, pich = 0, goalw = 0, goalh = 0, scalex = 100, scaley = 100;
    int bitsPixel = 0, widthBytes = 0;
    QByteArray data;
    int nibble = -1;
    bool tooBig = false;
};

enum class Kw : std::uint8_t {
    // destinations
    FontTable,
    ColorTable,
    Pict,
    SkipDest,
    ShpPict,
    Field,
    FldRslt,
    Object,
    Result,
    // font and colour tables
    FontCharset,
    Red,
    Green,
    Blue,
    Deff,
    AnsiCpg,
    Ansi,
    Mac,
    Pc,
    Pca,
    // character formatting
    F,
    Fs,
    B,
    I,
    Ul,
    UlNone,
    Strike,
    Cf,
    Plain,
    Loch,
    Hich,
    Dbch,
    Af,
    Uc,
    U,
    // text
    Par,
    Line,
    Tab,
    Cell,
    Row,
    Page,
    Bin,
    Chftn,
    Char,
    // pictures
    PngBlip,
    JpegBlip,
    DiBitmap,
    WBitmap,
    Metafile,
    PicW,
    PicH,
    PicWGoal,
    PicHGoal,
    PicScaleX,
    PicScaleY,
    WbmBitsPixel,
    WbmWidthBytes,
};

struct KwInfo {
    Kw kw;
    char16_t ch = 0; // for Kw::Char
};

const std::unordered_map<std::string_view, KwInfo> &keywords()
{
    static const std::unordered_map<std::string_view, KwInfo> table = [] {
        std::unordered_map<std::string_view, KwInfo> t;
        t["fonttbl"] = {Kw::FontTable};
        t["colortbl"] = {Kw::ColorTable};
        t["pict"] = {Kw::Pict};
        t["shppict"] = {Kw::ShpPict};
        t["field"] = {Kw::Field};
        t["fldrslt"] = {Kw::FldRslt};
        t["object"] = {Kw::Object};
        t["result"] = {Kw::Result};
        // Destinations whose text is not part of the document body.
        for (const char *word : {"stylesheet",
                                 "info",
                                 "header",
                                 "headerl",
                                 "headerr",
                                 "headerf",
                                 "footer",
                                 "footerl",
                                 "footerr",
                                 "footerf",
                                 "footnote",
                                 "fldinst",
                                 "pntext",
                                 "listtext",
                                 "objdata",
                                 "objclass",
                                 "objname",
                                 "template",
                                 "xe",
                                 "tc",
                                 "txe",
                                 "rxe",
                                 "ftnsep",
                                 "ftnsepc",
                                 "ftncn",
                                 "aftnsep",
                                 "aftnsepc",
                                 "aftncn",
                                 "listtable",
                                 "listoverridetable",
                                 "revtbl",
                                 "rsidtbl",
                                 "nonshppict",
                                 "nonesttables",
                                 "themedata",
                                 "colorschememapping",
                                 "latentstyles",
                                 "datastore",
                                 "xmlnstbl",
                                 "bkmkstart",
                                 "bkmkend",
                                 "annotation",
                                 "atnid",
                                 "atnauthor",
                                 "atrfstart",
                                 "atrfend",
                                 "atndate",
                                 "atnref",
                                 "generator",
                                 "pgdsctbl",
                                 "filetbl",
                                 "mmathPr",
                                 "author",
                                 "title",
                                 "subject",
                                 "operator",
                                 "keywords",
                                 "comment",
                                 "doccomm",
                                 "company",
                                 "manager",
                                 "category",
                                 "userprops",
                                 "docvar",
                                 "fchars",
                                 "lchars",
                                 "pgptbl",
                                 "protusertbl",
                                 "pnseclvl",
                                 "pn",
                                 "pntxta",
                                 "pntxtb",
                                 "listpicture",
                                 "shpinst",
                                 "sp",
                                 "sn",
                                 "sv",
                                 "falt",
                                 "panose",
                                 "fname",
                                 "nesttableprops",
                                 "shprslt",
                                 "do",
                                 "blipuid",
                                 "picprop",
                                 "upr",
                                 "ud",
                                 "passwordhash",
                                 "wgrffmtfilter",
                                 "mmath",
                                 "ftnalt",
                                 "fontemb",
                                 "fontfile",
                                 "private",
                                 "printim",
                                 "buptim",
                                 "creatim",
                                 "revtim",
                                 "hlinkbase",
                                 "linkval",
                                 "oleclsid",
                                 "ebcstart",
                                 "ebcend",
                                 "formfield",
                                 "gridtbl"})
            t[word] = {Kw::SkipDest};
        t["fcharset"] = {Kw::FontCharset};
        t["red"] = {Kw::Red};
        t["green"] = {Kw::Green};
        t["blue"] = {Kw::Blue};
        t["deff"] = {Kw::Deff};
        t["ansicpg"] = {Kw::AnsiCpg};
        t["ansi"] = {Kw::Ansi};
        t["mac"] = {Kw::Mac};
        t["pc"] = {Kw::Pc};
        t["pca"] = {Kw::Pca};
        t["f"] = {Kw::F};
        t["fs"] = {Kw::Fs};
        t["b"] = {Kw::B};
        t["i"] = {Kw::I};
        for (const char *word : {"ul", "uld", "uldb", "ulw", "ulwave", "uldash", "uldashd",
                                 "uldashdd", "ulth", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd",
                                 "ulhwave", "ululdbwave", "ulldash", "ulthldash"})
            t[word] = {Kw::Ul};
        t["ulnone"] = {Kw::UlNone};
        t["strike"] = {Kw::Strike};
        t["striked"] = {Kw::Strike};
        t["cf"] = {Kw::Cf};
        t["plain"] = {Kw::Plain};
        t["loch"] = {Kw::Loch};
        t["hich"] = {Kw::Hich};
        t["dbch"] = {Kw::Dbch};
        t["af"] = {Kw::Af};
        t["uc"] = {Kw::Uc};
        t["u"] = {Kw::U};
        t["par"] = {Kw::Par};
        t["sect"] = {Kw::Page};
        t["page"] = {Kw::Page};
        t["line"] = {Kw::Line};
        t["tab"] = {Kw::Tab};
        t["cell"] = {Kw::Cell};
        t["nestcell"] = {Kw::Cell};
        t["row"] = {Kw::Row};
        t["nestrow"] = {Kw::Row};
        t["bin"] = {Kw::Bin};
        t["chftn"] = {Kw::Chftn};
        t["emdash"] = {Kw::Char, 0x2014};
        t["endash"] = {Kw::Char, 0x2013};
        t["emspace"] = {Kw::Char, 0x2003};
        t["enspace"] = {Kw::Char, 0x2002};
        t["qmspace"] = {Kw::Char, 0x2005};
        t["bullet"] = {Kw::Char, 0x2022};
        t["lquote"] = {Kw::Char, 0x2018};
        t["rquote"] = {Kw::Char, 0x2019};
        t["ldblquote"] = {Kw::Char, 0x201C};
        t["rdblquote"] = {Kw::Char, 0x201D};
        t["zwj"] = {Kw::Char, 0x200D};
        t["zwnj"] = {Kw::Char, 0x200C};
        t["ltrmark"] = {Kw::Char, 0x200E};
        t["rtlmark"] = {Kw::Char, 0x200F};
        t["zwbo"] = {Kw::Char, 0x200B};
        t["zwnbo"] = {Kw::Char, 0xFEFF};
        t["pngblip"] = {Kw::PngBlip};
        t["jpegblip"] = {Kw::JpegBlip};
        t["dibitmap"] = {Kw::DiBitmap};
        t["wbitmap"] = {Kw::WBitmap};
        for (const char *word : {"wmetafile", "emfblip", "macpict", "pmmetafile"})
            t[word] = {Kw::Metafile};
        t["picw"] = {Kw::PicW};
        t["pich"] = {Kw::PicH};
        t["picwgoal"] = {Kw::PicWGoal};
        t["pichgoal"] = {Kw::PicHGoal};
        t["picscalex"] = {Kw::PicScaleX};
        t["picscaley"] = {Kw::PicScaleY};
        t["wbmbitspixel"] = {Kw::WbmBitsPixel};
        t["wbmwidthbytes"] = {Kw::WbmWidthBytes};
        return t;
    }();
    return table;
}

bool isCjkChar(char16_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFFEF);
}

bool isDoubleByteCodePage(int codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A BMP file around a packed DIB (\dibitmap holds the DIB without the file
// header), so that the ordinary image readers can decode it.
QByteArray bmpFromDib(const QByteArray &dib)
{
    if (dib.size() < 16)
        return {};
    auto le32 = [&](qsizetype at) -> quint32 {
        if (at + 4 > dib.size())
            return 0;
        return quint32(uchar(dib[at])) | quint32(uchar(dib[at + 1])) << 8 |
               quint32(uchar(dib[at + 2])) << 16 | quint32(uchar(dib[at + 3])) << 24;
    };
    const quint32 headerSize = le32(0);
    if (headerSize < 12 || headerSize > quint32(dib.size()))
        return {};
    quint32 bitCount = 0, colorsUsed = 0, compression = 0;
    if (headerSize == 12) {
        bitCount = quint32(uchar(dib[10])) | quint32(uchar(dib[11])) << 8;
    } else {
        bitCount = quint32(uchar(dib[14])) | quint32(uchar(dib[15])) << 8;
        compression = le32(16);
        colorsUsed = le32(32);
    }
    quint32 paletteEntries = colorsUsed;
    if (paletteEntries == 0 && bitCount <= 8)
        paletteEntries = 1u << bitCount;
    const quint32 entrySize = headerSize == 12 ? 3 : 4;
    quint64 offset = 14 + quint64(headerSize) + quint64(std::min(paletteEntries, 256u)) * entrySize;
    if (headerSize == 40 && (compression == 3 || compression == 6))
        offset += compression == 3 ? 12 : 16;
    const quint64 total = 14 + quint64(dib.size());
    if (offset > total || total > quint64(DocumentImages::maxEncodedBytes))
        return {};
    QByteArray file;
    file.reserve(qsizetype(total));
    auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            file.append(char((v >> (8 * i)) & 0xFF));
    };
    file.append("BM");
    put32(quint32(total));
    put32(0);
    put32(quint32(offset));
    file.append(dib);
    return file;
}

// CodePage::decode() sets up a converter on every call; text with a \'xx
// every few letters (accented Latin, short Chinese words between ASCII)
// would pay that per byte. Single-byte code pages get a table, decoded once;
// short double-byte sequences are remembered.
class Decoder {
public:
    const std::u16string &decode(std::string_view bytes, int codePage)
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
                found = m_short.emplace(key, CodePage::decode(bytes, codePage).text).first;
            }
            return found->second;
        }
        m_result = CodePage::decode(bytes, codePage).text;
        return m_result;
    }

private:
    struct Table {
        bool singleByte = false;
        char16_t units[256] = {};
    };
    Table &tableFor(int codePage)
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
        const std::u16string text = CodePage::decode(all, codePage).text;
        if (text.size() == 256) {
            table.singleByte = true;
            std::copy(text.begin(), text.end(), table.units);
        }
        return m_tables.emplace(codePage, table).first->second;
    }

    std::unordered_map<int, Table> m_tables;
    std::unordered_map<std::uint64_t, std::u16string> m_short;
    std::u16string m_result;
};

class Reader {
public:
    Reader(QByteArrayView data, QTextCursor &cursor, int defaultCodePage, qint64 pictureBudget)
        : m_p(data.data()), m_end(data.data() + data.size()), m_cursor(cursor),
          m_document(cursor.document()), m_defaultCodePage(defaultCodePage),
          m_pictureBudget(pictureBudget)
    {
        m_stack.reserve(64);
    }

    void run();
    DocumentImages::BudgetUse pictureUse() const { return m_pictureUse; }

private:
    void openGroup();
    void closeGroup();
    void controlWord();
    void controlSymbol(char c);
    void dispatch(std::string_view word, bool hasParam, int param);
    void destination(Dest dest) { m_state.dest = dest; }
    void textByte(unsigned char byte);
    void hexByte(unsigned char byte);
    void unicodeUnit(char16_t unit);
    void appendChar(char16_t c);
    void beginContent();
    void flushBytes();
    // The formatting a character gets: CJK text takes the \dbch font.
    CharProps propsFor(char16_t c) const;
    void flushRun(const CharProps &next);
    void paragraphBreak()
    {
        ++m_pendingBreaks;
        m_pendingTabs = 0;
        m_needPar = false;
    }
    // \sect and \page end the paragraph only when it has content: right
    // after \par or \row they add no empty line (as LibreOffice reads them).
    void sectionBreak()
    {
        if (m_needPar)
            paragraphBreak();
    }
    void finishFontEntry();
    void finishColorEntry();
    void finishPicture();
    void skipBinary(qsizetype count);
    int codePageFor(int font) const;
    int currentCodePage() const;
    // \ansicpg, else the character set the header names, else the caller's.
    int documentCodePage() const
    {
        if (m_ansiCodePage > 0)
            return m_ansiCodePage;
        return m_charsetCodePage > 0 ? m_charsetCodePage : m_defaultCodePage;
    }
    QTextCharFormat formatFor(const CharProps &props);
    bool skippingFallback()
    {
        if (m_skipChars > 0) {
            --m_skipChars;
            return true;
        }
        return false;
    }

    const char *m_p;
    const char *m_end;
    QTextCursor &m_cursor;
    QTextDocument *m_document;
    int m_defaultCodePage;
    int m_ansiCodePage = 0;    // \ansicpg
    int m_charsetCodePage = 0; // \ansi (1252, as LibreOffice and Word take it), \mac, \pc, \pca
    int m_deff = 0;

    State m_state;
    std::vector<State> m_stack;
    int m_overflow = 0; // groups opened beyond maxGroupDepth, skipped unparsed
    bool m_done = false;
    int m_skipChars = 0;

    std::unordered_map<int, Font> m_fonts;
    int m_fontNumber = -1;
    int m_fontCharset = -1;
    std::string m_fontName;

    std::vector<QColor> m_colors;
    int m_red = -1, m_green = -1, m_blue = -1;

    Pict m_pict;
    int m_footnotes = 0;
    qint64 m_pictureBudget;
    DocumentImages::BudgetUse m_pictureUse;
    // The picture registered for each distinct picture file read so far: the
    // same bytes repeated share one name and one decoded image.
    QHash<QByteArray, QTextImageFormat> m_pictureNames;

    Decoder m_decoder;
    std::string m_bytes; // consecutive \'xx bytes, decoded together
    int m_bytesCodePage = 0;
    QString m_text; // text of the run being collected
    CharProps m_textProps;
    int m_pendingBreaks = 0; // \par seen, written when more content follows
    int m_pendingTabs = 0;   // \cell seen, written when more content follows
    bool m_needPar = false;  // content since the last paragraph end
    std::unordered_map<CharProps, QTextCharFormat, CharPropsHash> m_formats;
};

void Reader::run()
{
    while (m_p < m_end && !m_done) {
        const char c = *m_p;
        if (m_overflow > 0) {
            // Too deep: only the braces (and \bin data, which may contain
            // braces) matter until the group is closed again.
            ++m_p;
            if (c == '{') {
                ++m_overflow;
            } else if (c == '}') {
                --m_overflow;
            } else if (c == '\\' && m_p < m_end) {
                if ((*m_p >= 'a' && *m_p <= 'z') || (*m_p >= 'A' && *m_p <= 'Z')) {
                    --m_p;
                    const Dest saved = m_state.dest;
                    m_state.dest = Dest::Skip;
                    controlWord();
                    m_state.dest = saved;
                } else {
                    ++m_p;
                }
            }
            continue;
        }
        switch (c) {
        case '{':
            ++m_p;
            openGroup();
            break;
        case '}':
            ++m_p;
            closeGroup();
            break;
        case '\\':
            if (m_p + 1 >= m_end) {
                m_p = m_end;
                break;
            }
            if ((m_p[1] >= 'a' && m_p[1] <= 'z') || (m_p[1] >= 'A' && m_p[1] <= 'Z')) {
                controlWord();
            } else {
                m_p += 2;
                controlSymbol(m_p[-1]);
            }
            break;
        case '\r':
        case '\n':
        case '\0':
            ++m_p;
            break;
        default:
            if (m_state.dest == Dest::Body && m_skipChars == 0 && m_bytes.empty() &&
                static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x80) {
                // The common case: a stretch of plain ASCII text.
                const char *start = m_p;
                while (m_p < m_end) {
                    const auto u = static_cast<unsigned char>(*m_p);
                    if (u < 0x20 || u >= 0x80 || u == '\\' || u == '{' || u == '}')
                        break;
                    ++m_p;
                }
                beginContent();
                const CharProps props = propsFor(u'a');
                if (!(m_textProps == props))
                    flushRun(props);
                m_text.append(QLatin1StringView(start, m_p - start));
            } else {
                ++m_p;
                if (c == '\t') {
                    if (!skippingFallback() && m_state.dest == Dest::Body)
                        appendChar(u'\t');
                } else {
                    textByte(static_cast<unsigned char>(c));
                }
            }
            break;
        }
    }
    // End of data, closed or not: keep what was read.
    flushBytes();
    if (m_pendingBreaks > 1) {
        m_pendingBreaks -= 1;
        m_pendingTabs = 0;
        beginContent();
    }
    flushRun(m_textProps);
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
    m_state = m_stack.back();
    m_stack.pop_back();
    if (m_stack.empty())
        m_done = true; // the document's outer group is closed; anything after it is not RTF
}

void Reader::controlWord()
{
    ++m_p; // the backslash
    const char *start = m_p;
    while (m_p < m_end && ((*m_p >= 'a' && *m_p <= 'z') || (*m_p >= 'A' && *m_p <= 'Z')))
        ++m_p;
    const std::string_view word(start, size_t(std::min<std::ptrdiff_t>(m_p - start, 32)));
    bool negative = false;
    bool hasParam = false;
    long long value = 0;
    if (m_p < m_end && *m_p == '-' && m_p + 1 < m_end && m_p[1] >= '0' && m_p[1] <= '9') {
        negative = true;
        ++m_p;
    }
    while (m_p < m_end && *m_p >= '0' && *m_p <= '9') {
        hasParam = true;
        if (value < 100000000000LL)
            value = value * 10 + (*m_p - '0');
        ++m_p;
    }
    if (m_p < m_end && *m_p == ' ')
        ++m_p;
    if (negative)
        value = -value;
    value = std::clamp<long long>(value, INT32_MIN, INT32_MAX);
    const int param = int(value);

    if (word == "bin") {
        // Binary data is skipped (or taken as picture data) by count, even
        // when it stands in for a fallback character.
        const qsizetype count = hasParam && param > 0 ? param : 0;
        if (m_skipChars > 0)
            --m_skipChars;
        flushBytes();
        if (m_state.dest == Dest::Pict && m_overflow == 0) {
            const qsizetype available = std::min<qsizetype>(count, m_end - m_p);
            if (!m_pict.tooBig) {
                if (m_pict.data.size() + available > DocumentImages::maxEncodedBytes)
                    m_pict.tooBig = true;
                else
                    m_pict.data.append(m_p, available);
            }
        }
        skipBinary(count);
        return;
    }
    if (m_overflow > 0)
        return;
    if (skippingFallback())
        return;
    flushBytes();
    dispatch(word, hasParam, param);
}

void Reader::skipBinary(qsizetype count)
{
    m_p += std::min<qsizetype>(count, m_end - m_p);
}

void Reader::controlSymbol(char c)
{
    if (c == '\'') {
        // \'xx: one byte in the code page of the current font.
        int value = -1;
        if (m_end - m_p >= 2) {
            const int high = hexValue(m_p[0]);
            const int low = hexValue(m_p[1]);
            if (high >= 0 && low >= 0) {
                value = high * 16 + low;
                m_p += 2;
            }
        }
        if (skippingFallback() || value < 0)
            return;
        hexByte(static_cast<unsigned char>(value));
        return;
    }
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
        if (m_state.dest == Dest::Body)
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
        if (m_state.dest == Dest::Body)
            paragraphBreak();
        break;
    case '\t':
        appendChar(u'\t');
        break;
    default:
        break; // \| \: and the like carry nothing we show
    }
}

void Reader::dispatch(std::string_view word, bool hasParam, int param)
{
    const auto &table = keywords();
    const auto found = table.find(word);
    const bool starred = m_state.starred;
    m_state.starred = false;
    if (found == table.end()) {
        if (starred)
            destination(Dest::Skip);
        return;
    }
    const Kw kw = found->second.kw;
    const bool on = !hasParam || param != 0;
    if (m_state.dest == Dest::Skip)
        return;
    if (starred && kw != Kw::ShpPict && kw != Kw::Pict && kw != Kw::FldRslt) {
        destination(Dest::Skip);
        return;
    }
    CharProps &props = m_state.props;
    switch (kw) {
    case Kw::FontTable:
        // Text read so far keeps the fonts and colours it was read with.
        flushRun(m_textProps);
        destination(Dest::FontTable);
        m_fontNumber = -1;
        m_fontName.clear();
        break;
    case Kw::ColorTable:
        flushRun(m_textProps);
        destination(Dest::ColorTable);
        m_colors.clear();
        m_formats.clear();
        m_red = m_green = m_blue = -1;
        break;
    case Kw::Pict:
        if (m_state.dest == Dest::Body) {
            destination(Dest::Pict);
            m_state.ownsPict = true;
            m_pict = Pict();
        } else {
            destination(Dest::Skip);
        }
        break;
    case Kw::SkipDest:
        destination(Dest::Skip);
        break;
    case Kw::ShpPict:
    case Kw::Field:
    case Kw::FldRslt:
    case Kw::Object:
    case Kw::Result:
        break; // their text belongs to the document
    case Kw::FontCharset:
        if (m_state.dest == Dest::FontTable)
            m_fontCharset = param;
        break;
    case Kw::Red:
        m_red = std::clamp(param, 0, 255);
        break;
    case Kw::Green:
        m_green = std::clamp(param, 0, 255);
        break;
    case Kw::Blue:
        m_blue = std::clamp(param, 0, 255);
        break;
    case Kw::Deff:
        m_deff = param;
        break;
    case Kw::AnsiCpg:
        if (param > 0 && param < 65536 && CodePage::isSupported(param))
            m_ansiCodePage = param;
        break;
    case Kw::Ansi:
        m_charsetCodePage = 1252;
        break;
    case Kw::Mac:
        m_charsetCodePage = 10000;
        break;
    case Kw::Pc:
        m_charsetCodePage = 437;
        break;
    case Kw::Pca:
        m_charsetCodePage = 850;
        break;
    case Kw::F:
        if (m_state.runType == RunType::Dbch)
            props.eastAsianFont = param;
        if (m_state.dest == Dest::FontTable) {
            if (!m_fontName.empty())
                finishFontEntry();
            m_fontNumber = param;
            m_fontCharset = -1;
            m_fontName.clear();
            m_state.fontEntry = true;
        } else {
            props.font = param;
        }
        break;
    case Kw::Fs:
        props.halfPoints = hasParam && param > 0 ? std::min(param, 3276) : 24;
        break;
    case Kw::B:
        props.bold = on;
        break;
    case Kw::I:
        props.italic = on;
        break;
    case Kw::Ul:
        props.underline = on;
        break;
    case Kw::UlNone:
        props.underline = false;
        break;
    case Kw::Strike:
        props.strike = on;
        break;
    case Kw::Cf:
        props.color = param;
        break;
    case Kw::Plain:
        props = CharProps();
        break;
    case Kw::Loch:
        m_state.runType = RunType::Loch;
        break;
    case Kw::Hich:
        m_state.runType = RunType::Hich;
        break;
    case Kw::Dbch:
        m_state.runType = RunType::Dbch;
        break;
    case Kw::Af:
        // \af names the font of the script \loch/\hich/\dbch selected; only
        // the East-Asian one matters here (the others are Latin faces too).
        if (m_state.runType == RunType::Dbch)
            props.eastAsianFont = param;
        break;
    case Kw::Uc:
        m_state.uc = std::clamp(param, 0, 100);
        break;
    case Kw::U: {
        const auto unit = static_cast<char16_t>(static_cast<std::uint16_t>(param));
        if (m_state.dest == Dest::Body)
            appendChar(unit);
        m_skipChars = m_state.uc;
        break;
    }
    case Kw::Par:
        if (m_state.dest == Dest::Body)
            paragraphBreak();
        break;
    case Kw::Page:
        if (m_state.dest == Dest::Body)
            sectionBreak();
        break;
    case Kw::Line:
        appendChar(0x2028);
        break;
    case Kw::Tab:
        appendChar(u'\t');
        break;
    case Kw::Cell:
        if (m_state.dest == Dest::Body)
            ++m_pendingTabs;
        break;
    case Kw::Row:
        if (m_state.dest == Dest::Body) {
            // The separators between the cells stay (empty cells too); the
            // last cell's becomes the end of the line.
            if (m_pendingTabs > 1) {
                --m_pendingTabs;
                beginContent();
            }
            paragraphBreak();
        }
        break;
    case Kw::Chftn:
        if (m_state.dest == Dest::Body) {
            ++m_footnotes;
            for (QChar c : QString::number(m_footnotes))
                appendChar(c.unicode());
        }
        break;
    case Kw::Char:
        appendChar(found->second.ch);
        break;
    case Kw::Bin:
        break; // handled by the tokenizer
    case Kw::PngBlip:
        m_pict.kind = PictKind::Png;
        break;
    case Kw::JpegBlip:
        m_pict.kind = PictKind::Jpeg;
        break;
    case Kw::DiBitmap:
        m_pict.kind = PictKind::Dib;
        break;
    case Kw::WBitmap:
        m_pict.kind = PictKind::Wbitmap;
        break;
    case Kw::Metafile:
        m_pict.kind = PictKind::Metafile;
        break;
    case Kw::PicW:
        m_pict.picw = param;
        break;
    case Kw::PicH:
        m_pict.pich = param;
        break;
    case Kw::PicWGoal:
        m_pict.goalw = param;
        break;
    case Kw::PicHGoal:
        m_pict.goalh = param;
        break;
    case Kw::PicScaleX:
        m_pict.scalex = param;
        break;
    case Kw::PicScaleY:
        m_pict.scaley = param;
        break;
    case Kw::WbmBitsPixel:
        m_pict.bitsPixel = param;
        break;
    case Kw::WbmWidthBytes:
        m_pict.widthBytes = param;
        break;
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
    case Dest::Pict: {
        const int value = hexValue(char(byte));
        if (value < 0 || m_pict.tooBig)
            break;
        if (m_pict.nibble < 0) {
            m_pict.nibble = value;
        } else {
            if (m_pict.data.size() >= DocumentImages::maxEncodedBytes) {
                m_pict.tooBig = true;
                m_pict.data.clear();
                break;
            }
            m_pict.data.append(char(m_pict.nibble * 16 + value));
            m_pict.nibble = -1;
        }
        break;
    }
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
    const auto found = m_fonts.find(font < 0 ? m_deff : font);
    if (found == m_fonts.end() || found->second.charset < 0)
        return 0;
    return CodePage::fromCharset(found->second.charset);
}

int Reader::currentCodePage() const
{
    int codePage = codePageFor(m_state.props.font);
    if (m_state.runType == RunType::Dbch && m_state.props.eastAsianFont >= 0) {
        // Double-byte text may name its East-Asian font only through \af.
        const int associated = codePageFor(m_state.props.eastAsianFont);
        if (isDoubleByteCodePage(associated))
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
    for (char16_t unit : decoded) {
        if (unit < 0x20 && unit != u'\t')
            continue;
        const CharProps props = propsFor(unit);
        if (!(m_textProps == props))
            flushRun(props);
        m_text.append(QChar(unit));
    }
}

void Reader::beginContent()
{
    m_needPar = true;
    if (m_pendingBreaks == 0 && m_pendingTabs == 0)
        return;
    // The paragraph marks and cell ends go into the run collected so far.
    const int breaks = m_pendingBreaks;
    const int tabs = m_pendingTabs;
    m_pendingBreaks = 0;
    m_pendingTabs = 0;
    for (int i = 0; i < breaks; ++i)
        m_text.append(QChar::ParagraphSeparator);
    for (int i = 0; i < tabs; ++i)
        m_text.append(u'\t');
}

void Reader::appendChar(char16_t c)
{
    // Control characters (\u10 and the like) would split paragraphs.
    if (m_state.dest != Dest::Body || (c < 0x20 && c != u'\t'))
        return;
    flushBytes();
    beginContent();
    const CharProps props = propsFor(c);
    if (!(m_textProps == props))
        flushRun(props);
    m_text.append(QChar(c));
}

QTextCharFormat Reader::formatFor(const CharProps &props)
{
    const auto cached = m_formats.find(props);
    if (cached != m_formats.end())
        return cached->second;
    QTextCharFormat format;
    const auto font = m_fonts.find(props.font < 0 ? m_deff : props.font);
    if (font != m_fonts.end() && !font->second.name.isEmpty())
        format.setFontFamilies({font->second.name});
    format.setFontPointSize(props.halfPoints / 2.0);
    format.setFontWeight(props.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(props.italic);
    format.setFontUnderline(props.underline);
    format.setFontStrikeOut(props.strike);
    if (props.color >= 0 && size_t(props.color) < m_colors.size() &&
        m_colors[size_t(props.color)].isValid())
        format.setForeground(m_colors[size_t(props.color)]);
    // A bounded cache: the same QTextCharFormat object keeps its hash, which
    // the document needs for every insert.
    if (m_formats.size() >= 4096)
        m_formats.clear();
    m_formats.emplace(props, format);
    return format;
}

CharProps Reader::propsFor(char16_t c) const
{
    CharProps props = m_state.props;
    if (props.eastAsianFont >= 0 && isCjkChar(c))
        props.font = props.eastAsianFont;
    props.eastAsianFont = -1;
    return props;
}

void Reader::flushRun(const CharProps &next)
{
    if (!m_text.isEmpty()) {
        // Lone surrogates and Qt's frame markers are not text.
        QChar *data = m_text.data();
        const qsizetype size = m_text.size();
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t u = data[i].unicode();
            if (QChar::isHighSurrogate(u)) {
                if (i + 1 < size && data[i + 1].isLowSurrogate())
                    ++i;
                else
                    data[i] = QChar(0xFFFD);
            } else if (QChar::isLowSurrogate(u) || u == 0xFDD0 || u == 0xFDD1 || u == 0xFFFC) {
                data[i] = QChar(0xFFFD);
            }
        }
        m_cursor.insertText(m_text, formatFor(m_textProps));
        m_text.clear();
    }
    m_textProps = next;
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
        const CodePage::Decoded decoded = CodePage::decode(name, codePage);
        font.name = QString::fromStdU16String(decoded.text);
        m_fonts[m_fontNumber] = font;
        m_formats.clear();
    }
    m_fontNumber = -1;
    m_fontCharset = -1;
    m_fontName.clear();
}

void Reader::finishColorEntry()
{
    if (m_colors.size() < 65536) {
        if (m_red < 0 && m_green < 0 && m_blue < 0)
            m_colors.emplace_back(); // "automatic"
        else
            m_colors.emplace_back(std::max(m_red, 0), std::max(m_green, 0), std::max(m_blue, 0));
    }
    m_red = m_green = m_blue = -1;
    m_formats.clear();
}

void Reader::finishPicture()
{
    Pict pict = std::move(m_pict);
    m_pict = Pict();
    if (pict.tooBig || pict.data.isEmpty())
        return;
    QTextImageFormat inserted;
    QSize natural;
    QByteArray file; // the picture file the bytes are, when they are one
    switch (pict.kind) {
    case PictKind::Png:
    case PictKind::Jpeg:
    case PictKind::Unknown:
        file = pict.data;
        break;
    case PictKind::Dib:
        file = bmpFromDib(pict.data);
        break;
    case PictKind::Wbitmap: {
        // A device-dependent bitmap: rows of widthBytes, top row first.
        const int width = pict.picw, height = pict.pich, stride = pict.widthBytes;
        QImage::Format format = QImage::Format_Invalid;
        if (pict.bitsPixel == 1)
            format = QImage::Format_Mono;
        else if (pict.bitsPixel == 24)
            format = QImage::Format_BGR888;
        else if (pict.bitsPixel == 32)
            format = QImage::Format_RGB32;
        if (format == QImage::Format_Invalid || width <= 0 || height <= 0 || stride <= 0 ||
            width > DocumentImages::maxSide || height > DocumentImages::maxSide ||
            qint64(width) * height > DocumentImages::maxPixels ||
            qint64(stride) * height > pict.data.size() ||
            qint64(stride) * 8 < qint64(width) * pict.bitsPixel)
            return;
        QImage image(width, height, format);
        if (image.isNull())
            return;
        if (format == QImage::Format_Mono)
            image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        const qsizetype rowBytes = (qsizetype(width) * pict.bitsPixel + 7) / 8;
        for (int y = 0; y < height; ++y)
            std::copy_n(pict.data.constData() + qsizetype(y) * stride, rowBytes,
                        reinterpret_cast<char *>(image.scanLine(y)));
        // Its pixels are in the file itself (at most 32 decoded bytes for each
        // bit read), so it is charged but always decoded: kept undecoded it
        // would have no file bytes to save.
        image = image.convertToFormat(QImage::Format_RGB32);
        ++m_pictureUse.decoded;
        m_pictureUse.bytes += DocumentImages::decodedBytes(image.size());
        inserted = DocumentImages::add(m_document, image, {}, {});
        natural = image.size();
        break;
    }
    case PictKind::Metafile:
        // Metafiles would need a renderer.
        return;
    }
    if (!file.isEmpty()) {
        auto known = m_pictureNames.constFind(file);
        if (known == m_pictureNames.constEnd()) {
            // The size from the header, before anything is decoded.
            const std::optional<QSize> size = DocumentImages::headerSize(file);
            if (!size)
                return;
            const qint64 cost = DocumentImages::decodedBytes(*size);
            std::optional<DocumentImages::Picture> picture;
            if (m_pictureUse.bytes + cost <= m_pictureBudget) {
                picture = DocumentImages::fromBytes(file);
                if (!picture)
                    return;
                ++m_pictureUse.decoded;
                m_pictureUse.bytes += cost;
            } else {
                // Past the budget: a placeholder that keeps the bytes.
                picture =
                    DocumentImages::Picture{QImage(), file, DocumentImages::sniffFormat(file)};
                ++m_pictureUse.heldBack;
            }
            known =
                m_pictureNames.insert(file, DocumentImages::add(m_document, picture->image,
                                                                picture->encoded, picture->format));
        }
        inserted = *known;
        natural = QSize(int(inserted.width()), int(inserted.height()));
    }
    if (!inserted.isValid() || natural.isEmpty())
        return;
    // \picwgoal/\pichgoal are twips (15 per pixel at 96 dpi), scaled in percent.
    auto scaled = [](int goal, int own, int scale) {
        const double base = goal > 0 ? goal / 15.0 : double(own);
        const double percent = scale > 0 && scale <= 10000 ? scale : 100;
        return std::max(1.0, std::round(base * percent / 100.0));
    };
    inserted.setWidth(scaled(pict.goalw, natural.width(), pict.scalex));
    inserted.setHeight(scaled(pict.goalh, natural.height(), pict.scaley));
    flushBytes();
    beginContent();
    flushRun(m_textProps);
    m_cursor.insertImage(inserted);
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
    return {true, {}, reader.pictureUse()};
}

} // namespace Inkwell::Rtf
