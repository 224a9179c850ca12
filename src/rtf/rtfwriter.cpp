// The body is written first (collecting fonts and colours in the order of
// first use, so the output is deterministic), then the header in front of it.
// Every run is its own group with its font, size and attributes stated in
// full, so no run depends on the state another one left behind.
#include "rtf/rtfwriter.h"

#include "core/documentimages.h"
#include "core/documenttext.h"
#include "core/formatproperties.h"
#include "platform/codepage.h"
#include "rtf/rtfkept.h"
#include "rtf/rtftextruns.h"
#include "rtf/rtfwritestructure.h"

#include <QBuffer>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Inkwell::Rtf {

namespace {

// GB2312_CHARSET: the charset LibreOffice and Word need on a font before
// they decode its \'xx bytes as GBK.
constexpr int gbCharset = 134;

// The \fcharset of fonts that are not CJK faces. In a GBK document those
// are Latin faces, written as ANSI (the CJK faces get gbCharset); Mac and
// Johab documents have always written theirs as ANSI as well.
int charsetForCodePage(int codePage)
{
    if (codePage == 936 || codePage == 10000 || codePage == 1361)
        return 0;
    return CodePage::toCharset(codePage);
}

// Faces that carry Chinese glyphs get \fcharset134 so that readers decode
// their byte fallbacks as GBK and give them the East-Asian font slot.
bool isCjkFace(const QString &family)
{
    for (QChar c : family)
        if (CodePage::isCjk(c.unicode()))
            return true;
    static const char *const prefixes[] = {
        "simsun",
        "nsimsun",
        "simhei",
        "simkai",
        "simfang",
        "kaiti",
        "fangsong",
        "microsoft yahei",
        "microsoft jhenghei",
        "dengxian",
        "noto sans cjk",
        "noto serif cjk",
        "noto sans sc",
        "noto serif sc",
        "source han",
        "wenquanyi",
        "wqy",
        "ar pl",
        "mingliu",
        "pmingliu",
        "stsong",
        "stheiti",
        "stkaiti",
        "stfangsong",
        "stxihei",
        "stsongti",
        "pingfang",
        "hiragino sans gb",
        "droid sans fallback",
        "lisu",
        "youyuan",
        "stzhongsong",
        "sthupo",
        "stxingkai",
        "stcaiyun",
    };
    const QString lower = family.toLower();
    for (const char *prefix : prefixes)
        if (lower.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

struct FontEntry {
    QString family;
    int charset = 0;
    int codePage = 1252; // the code page of the byte fallbacks written in this font
    bool cjk = false;
    // What the file the document was read from said of the font, written
    // back as read (none for a font it did not have).
    std::optional<Font> read;
};

struct RunProps {
    int font = 0;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int script = 0;    // 1 superscript, -1 subscript
    int color = 0;     // 0 = automatic
    int highlight = 0; // the background's colour index; 0 none
    int raise = 0;     // \up (> 0) or \dn (< 0), half-points
    int scale = 100;   // \charscalex
    int language = -1; // \lang, \langfe: -1 none stated
    int eastAsianLanguage = -1;
    bool operator==(const RunProps &) const = default;
};

constexpr char hexDigits[] = "0123456789abcdef";

// The text width of a page for tables without column widths of their own:
// A4 with Word's default Chinese margins. A fixed figure, not the window's
// width, so the same document always gives the same bytes.
constexpr int pageTextTwips = 8306;

void appendHex(std::string &text, const QByteArray &bytes)
{
    text.reserve(text.size() + size_t(bytes.size()) * 2 + size_t(bytes.size()) / 32 + 4);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto u = static_cast<unsigned char>(bytes[i]);
        text.push_back(hexDigits[u >> 4]);
        text.push_back(hexDigits[u & 15]);
        if (i % 64 == 63)
            text.push_back('\n');
    }
}

// One character (one code point) in the code page, or "?" when the code page
// has no form for it. 936 writes characters outside GBK as four-byte
// GB18030, which old readers would take for two unknown characters: those
// get "?" as well.
std::string codePageBytes(std::u16string_view character, int codePage)
{
    if (character.size() == 1 && character[0] < 0x80)
        return std::string(1, char(character[0]));
    if (character.size() != 1)
        return "?"; // outside the BMP: no Windows code page but UTF-8 has it
    CodePage::Encoded encoded = CodePage::encode(character, codePage);
    if (!encoded.lossless || encoded.bytes.empty() || (codePage == 936 && encoded.bytes.size() > 2))
        return "?";
    return std::move(encoded.bytes);
}

class Writer {
public:
    Writer(const QTextDocument &document, int codePage)
        : m_document(document), m_codePage(codePage > 0 ? codePage : CodePage::systemAnsi()),
          m_kept(
              document,
              [this](const QString &family) {
                  return fontIndex(family.isEmpty() ? m_defaultFamily : family);
              },
              [this](QRgb rgb) { return colorIndex(rgb); }),
          m_lists(twipsOf(document.indentWidth()),
                  [this](const QString &family) { return fontIndex(family); })
    {
        m_softBreaks = mayHaveSoftBreaks(document);
        const QByteArray preamble = Kept::documentGroups(document).preamble;
        m_styles = paragraphStyles(preamble, &m_styleToggles);
        m_fileRead = Kept::isFileRead(document);
        const QFont font = document.defaultFont();
        m_defaultFamily = font.family();
        const qreal points = font.pointSizeF();
        m_defaultHalfPoints = points > 0 ? int(std::lround(points * 2)) : 24;
        const QVariantMap table = Kept::fontTableOf(document).toMap();
        for (const QVariant &entry : table.value(QStringLiteral("fonts")).toList()) {
            Font read = Kept::fontOf(entry.toMap());
            if (!read.name.isEmpty() && !m_readFonts.contains(read.name))
                m_readFonts.insert(read.name, std::move(read));
        }
        // Font 0 is the default font of the file read (what kept groups
        // after \plain use), else the document's own, so that \deff0 means
        // something.
        const QString deff = table.value(QStringLiteral("deff")).toString();
        fontIndex(deff.isEmpty() ? m_defaultFamily : deff);
    }

    QByteArray write(int from, int to)
    {
        begin(from, to);
        writeSome(QDeadlineTimer(QDeadlineTimer::Forever));
        return finish();
    }
    // The same in steps: begin(), writeSome() until it says all is written,
    // then finish(). The document must not change in between.
    void begin(int from, int to);
    bool writeSome(const QDeadlineTimer &deadline);
    QByteArray finish();

private:
    int fontIndex(const QString &family);
    int colorIndex(QRgb rgb);
    const RunProps &propsFor(const QTextFragment &fragment);
    void openRun(const RunProps &props);
    void writeRun(const RunProps &props, const QString &text, qsizetype begin, qsizetype end,
                  const QTextCharFormat &format);
    void writeText(const RunProps &props, const QChar *begin, const QChar *end);
    void writePicture(const QTextImageFormat &format);
    void writeParagraph(const QTextBlock &block, int depth, const char *end);
    void writeSectionBreak(const QTextBlock &block);
    bool sectionPageBreak(const QTextBlockFormat &format) const;
    void writeParagraphProperties(const QTextBlock &block, int depth, const ListTable::Ref *place);
    void writeListText(const QTextBlock &block, const QTextList &list);
    void writeTable(const QTextTable &table, int depth, int availableTwips);
    void writeFallback(const FontEntry &font, char32_t codePoint, const QChar *units, int count);
    void controlWord(const char *word);
    void controlWord(const char *word, long long value);
    void literal(char c)
    {
        if (m_needDelimiter) {
            const auto u = static_cast<unsigned char>(c);
            if (c == ' ' || c == '-' || (u < 0x80 && std::isalnum(u)))
                m_out.push_back(' ');
            m_needDelimiter = false;
        }
        m_out.push_back(c);
    }
    void raw(const char *text)
    {
        m_out.append(text);
        m_needDelimiter = false;
    }
    void appendNumber(std::string &out, long long value) { out.append(std::to_string(value)); }
    std::string header(const QByteArray &preamble, bool whole) const;
    void writeKept(const QTextCharFormat &format, int property);
    // `first`: the props of the field's first character.
    void switchField(const QByteArray &instruction, const RunProps *first = nullptr);
    bool startsBeforeTable(const QTextBlock &block, const QTextFrame *container, int start) const;
    bool footnoteMarkAt(const QTextFragment &fragment, QStringView fromHere, qsizetype begin) const;
    qsizetype writeFootnoteMark(const QTextFragment &fragment, QStringView fromHere,
                                qsizetype begin);

    const QTextDocument &m_document;
    int m_codePage;
    QString m_defaultFamily;
    int m_defaultHalfPoints = 24;
    std::vector<FontEntry> m_fonts;
    QHash<QString, int> m_fontByFamily;
    QHash<QString, Font> m_readFonts; // the font table read, by name
    std::vector<QRgb> m_colors;
    QHash<QRgb, int> m_colorByRgb;
    QHash<int, RunProps> m_propsByFormat;
    QHash<int, std::string> m_propertiesByFormat; // paragraphs outside tables and lists
    // "\uN\'xx..." for a (code page, code point) pair, with the fallback's byte count.
    struct Fallback {
        std::string text;
        int bytes = 1;
    };
    std::unordered_map<unsigned long long, Fallback> m_fallbacks;
    QHash<QString, std::string> m_pictures;
    // Kept pictures: the size their original goal words give, and those words.
    QHash<QString, std::pair<QSize, std::string>> m_keptGoals;
    Kept::Renumberer m_kept;
    QByteArray m_field;  // the instruction of the field being written
    bool m_fieldGrouped = false; // it stands in a group of its result's formatting
    int m_footnotes = 0; // automatic footnote marks written
    std::string m_out;
    bool m_needDelimiter = false;
    int m_uc = 1; // the \uc in force inside the current run group
    int m_from = 0;
    int m_to = 0;
    bool m_whole = false; // all of the document is written
    ListTable m_lists;
    QHash<const QTextList *, int> m_itemCount; // items written so far per list
    QHash<int, int> m_chainItemCount;          // and per chain of a long list's parts
    std::optional<ListChains> m_chains;
    const QTextList *m_previousList = nullptr;
    int m_previousFlow = -1; // where the previous list item stands (flowOf)
    QTextBlock m_next;       // the paragraph writeSome() goes on from
    bool m_tables = false;
    // The paragraph properties in force are the defaults (those of the
    // header's \pard): a plain paragraph needs no \pard of its own.
    bool m_plainParagraph = true;
    // The StyleToggle properties each run states also when they are off.
    unsigned m_styleToggles = 0;
    ParagraphStyles m_styles; // the kept style sheet's paragraph styles
    // A line held in pieces (see softBreakProperty) is written as one paragraph.
    bool m_softBreaks = false;
    bool m_fileRead = false; // see Kept::isFileRead()
};

int Writer::fontIndex(const QString &family)
{
    const auto found = m_fontByFamily.constFind(family);
    if (found != m_fontByFamily.constEnd())
        return *found;
    FontEntry entry;
    entry.family = family;
    entry.cjk = isCjkFace(family);
    const auto read = m_readFonts.constFind(family);
    if (read != m_readFonts.constEnd() && read->charset >= 0) {
        entry.read = *read;
        entry.charset = read->charset;
        int codePage = read->codePage > 0 && CodePage::isSupported(read->codePage)
                           ? read->codePage
                           : CodePage::fromCharset(read->charset);
        if (codePage == 0) // a charset that names no code page (default, symbol)
            codePage = entry.cjk ? 936 : CodePage::fromCharset(charsetForCodePage(m_codePage));
        entry.codePage = codePage > 0 ? codePage : 1252;
        entry.cjk = entry.cjk || CodePage::isDoubleByte(entry.codePage);
    } else if (entry.cjk) {
        entry.charset = gbCharset;
        entry.codePage = 936;
    } else {
        entry.charset = charsetForCodePage(m_codePage);
        const int implied = CodePage::fromCharset(entry.charset);
        entry.codePage = implied > 0 ? implied : 1252;
    }
    const int index = int(m_fonts.size());
    m_fonts.push_back(entry);
    m_fontByFamily.insert(family, index);
    return index;
}

int Writer::colorIndex(QRgb rgb)
{
    rgb = qRgb(qRed(rgb), qGreen(rgb), qBlue(rgb));
    const auto found = m_colorByRgb.constFind(rgb);
    if (found != m_colorByRgb.constEnd())
        return *found;
    m_colors.push_back(rgb);
    const int index = int(m_colors.size()); // entry 0 is "automatic"
    m_colorByRgb.insert(rgb, index);
    return index;
}

const RunProps &Writer::propsFor(const QTextFragment &fragment)
{
    const int key = fragment.charFormatIndex();
    const auto found = m_propsByFormat.constFind(key);
    if (found != m_propsByFormat.constEnd())
        return *found;
    const QTextCharFormat format = fragment.charFormat();
    RunProps props;
    QString family;
    const QVariant families = format.fontFamilies();
    if (families.isValid()) {
        const QStringList list = families.toStringList();
        if (!list.isEmpty())
            family = list.first();
    }
    if (family.isEmpty()) // set through the pre-Qt 6.1 property
        family = format.property(QTextFormat::FontFamily).toString();
    props.font = fontIndex(family.isEmpty() ? m_defaultFamily : family);
    const qreal points = format.fontPointSize();
    props.halfPoints = points > 0 ? int(std::lround(points * 2)) : m_defaultHalfPoints;
    props.bold =
        format.hasProperty(QTextFormat::FontWeight) && format.fontWeight() >= QFont::DemiBold;
    props.italic = format.fontItalic();
    props.underline = format.fontUnderline();
    props.strike = format.fontStrikeOut();
    props.script = format.verticalAlignment() == QTextCharFormat::AlignSuperScript ? 1
                   : format.verticalAlignment() == QTextCharFormat::AlignSubScript ? -1
                                                                                   : 0;
    props.raise = format.intProperty(charRaiseProperty);
    if (format.hasProperty(QTextFormat::FontStretch) && format.fontStretch() > 0)
        props.scale = format.fontStretch();
    if (format.hasProperty(charLanguageProperty))
        props.language = std::clamp(format.intProperty(charLanguageProperty), 0, 0xffff);
    if (format.hasProperty(charEastAsianLanguageProperty))
        props.eastAsianLanguage =
            std::clamp(format.intProperty(charEastAsianLanguageProperty), 0, 0xffff);
    if (format.hasProperty(QTextFormat::BackgroundBrush)) {
        const QBrush brush = format.background();
        if (brush.style() != Qt::NoBrush)
            props.highlight = colorIndex(brush.color().rgb());
    }
    if (format.hasProperty(QTextFormat::ForegroundBrush)) {
        const QBrush brush = format.foreground();
        if (brush.style() != Qt::NoBrush)
            props.color = colorIndex(brush.color().rgb());
    }
    return *m_propsByFormat.insert(key, props);
}

void Writer::controlWord(const char *word)
{
    m_out.push_back('\\');
    m_out.append(word);
    m_needDelimiter = true;
}

void Writer::controlWord(const char *word, long long value)
{
    m_out.push_back('\\');
    m_out.append(word);
    appendNumber(m_out, value);
    m_needDelimiter = true;
}

void Writer::writeFallback(const FontEntry &font, char32_t codePoint, const QChar *units, int count)
{
    const unsigned long long key =
        (static_cast<unsigned long long>(font.codePage) << 32) | codePoint;
    auto found = m_fallbacks.find(key);
    if (found == m_fallbacks.end()) {
        Fallback fallback;
        const std::u16string utf16(reinterpret_cast<const char16_t *>(units), size_t(count));
        const std::string bytes = codePageBytes(utf16, font.codePage);
        fallback.bytes = int(bytes.size());
        std::string escaped;
        for (char byte : bytes) {
            const auto u = static_cast<unsigned char>(byte);
            escaped.append("\\'");
            escaped.push_back(hexDigits[u >> 4]);
            escaped.push_back(hexDigits[u & 15]);
        }
        // A character outside the BMP is two \u, each with its own "?": what
        // RichEdit and Word write too.
        for (int i = 0; i < count; ++i) {
            const int unit = units[i].unicode();
            fallback.text.append("\\u");
            fallback.text.append(std::to_string(unit > 32767 ? unit - 65536 : unit));
            fallback.text.append(escaped);
        }
        found = m_fallbacks.emplace(key, std::move(fallback)).first;
    }
    const Fallback &fallback = found->second;
    if (fallback.bytes != m_uc) {
        m_out.append("\\uc");
        m_out.append(std::to_string(fallback.bytes));
        m_uc = fallback.bytes;
    }
    m_out.append(fallback.text);
    m_needDelimiter = false;
}

void Writer::writeText(const RunProps &props, const QChar *p, const QChar *end)
{
    const FontEntry &font = m_fonts[size_t(props.font)];
    while (p < end) {
        const char16_t c = p->unicode();
        if (c >= 0x20 && c < 0x7F) {
            if (c == '\\' || c == '{' || c == '}') {
                m_out.push_back('\\');
                m_out.push_back(char(c));
                m_needDelimiter = false;
            } else {
                literal(char(c));
                // Plain ASCII: copy the rest of the stretch without checks.
                ++p;
                while (p < end) {
                    const char16_t d = p->unicode();
                    if (d < 0x20 || d >= 0x7F || d == '\\' || d == '{' || d == '}')
                        break;
                    m_out.push_back(char(d));
                    ++p;
                }
                continue;
            }
            ++p;
            continue;
        }
        if (c == '\t') {
            controlWord("tab");
        } else if (c == 0x2028) {
            controlWord("line");
        } else if (c == 0x2029) {
            controlWord("par");
        } else if (c < 0x20 || c == 0x7F) {
            m_out.append("\\'");
            m_out.push_back(hexDigits[c >> 4]);
            m_out.push_back(hexDigits[c & 15]);
            m_needDelimiter = false;
        } else if (QChar::isHighSurrogate(c) && p + 1 < end && p[1].isLowSurrogate()) {
            writeFallback(font, QChar::surrogateToUcs4(c, p[1].unicode()), p, 2);
            ++p;
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate is not text; keep the place with U+FFFD.
            const QChar replacement(0xFFFD);
            writeFallback(font, 0xFFFD, &replacement, 1);
        } else {
            writeFallback(font, c, p, 1);
        }
        ++p;
    }
}

void Writer::writePicture(const QTextImageFormat &format)
{
    const QString name = format.name();
    auto cached = m_pictures.constFind(name);
    if (cached == m_pictures.constEnd()) {
        std::string text;
        const std::optional<DocumentImages::Picture> picture =
            DocumentImages::find(&m_document, name);
        if (picture && !picture->origin.isEmpty()) {
            // Kept as it came (a metafile): its own bytes and words.
            const qsizetype split = picture->origin.indexOf('\x01');
            text.append("{\\pict");
            text.append(picture->origin.left(split).toStdString());
            text.push_back('\x01');
            text.push_back('\n');
            m_keptGoals.insert(
                name, {picture->keptSize,
                       split < 0 ? std::string() : picture->origin.mid(split + 1).toStdString()});
            appendHex(text, picture->encoded);
            text.append("}");
        } else if (picture) {
            QByteArray bytes = picture->encoded;
            QByteArray kind = picture->format;
            if (kind == "bmp" && picture->image.isNull()) {
                // A BMP kept undecoded (a placeholder) goes back out as the
                // DIB it came in as: the file without its 14-byte header.
                bytes = bytes.mid(14);
                kind = "dib";
            } else if (kind != "png" && kind != "jpeg") {
                // BMP and pictures without their file bytes go out as PNG.
                bytes.clear();
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                picture->image.save(&buffer, "PNG");
                kind = "png";
            }
            const QSize pixels = DocumentImages::pixelSize(*picture);
            text.append(kind == "png"   ? "{\\pict\\pngblip"
                        : kind == "dib" ? "{\\pict\\dibitmap0"
                                        : "{\\pict\\jpegblip");
            text.append("\\picw" + std::to_string(pixels.width()));
            text.append("\\pich" + std::to_string(pixels.height()));
            text.push_back('\x01'); // goal sizes are filled in per use below
            text.push_back('\n');
            appendHex(text, bytes);
            text.append("}");
        }
        cached = m_pictures.insert(name, text);
    }
    const std::string &text = *cached;
    if (text.empty())
        return;
    // The same picture may be shown at different sizes; only the goal
    // sizes differ between uses.
    int width = int(std::lround(format.width()));
    int height = int(std::lround(format.height()));
    const size_t mark = text.find('\x01');
    if (width <= 0 || height <= 0) {
        // No size on the format: the picture's own size.
        const auto picture = DocumentImages::find(&m_document, name);
        if (picture) {
            const QSize pixels = DocumentImages::pixelSize(*picture);
            if (width <= 0)
                width = pixels.width();
            if (height <= 0)
                height = pixels.height();
        }
    }
    m_out.append(text, 0, mark);
    const auto kept = m_keptGoals.constFind(name);
    if (kept != m_keptGoals.constEnd() && kept->first == QSize(width, height)) {
        m_out.append(kept->second); // shown at the size it came with
    } else {
        m_out.append("\\picwgoal" + std::to_string(width * 15));
        m_out.append("\\pichgoal" + std::to_string(height * 15));
    }
    m_out.append(text, mark + 1, std::string::npos);
    m_needDelimiter = false;
}

void Writer::openRun(const RunProps &props)
{
    m_out.push_back('{');
    controlWord("f", props.font);
    const FontEntry &font = m_fonts[size_t(props.font)];
    if (font.cjk) {
        // LibreOffice gives Chinese text the East-Asian font only through
        // \dbch\afN (\fN alone sets the Western font).
        controlWord("dbch");
        controlWord("af", props.font);
    }
    controlWord("fs", props.halfPoints);
    const auto toggle = [this](bool on, unsigned style, const char *word, const char *off) {
        if (on)
            controlWord(word);
        else if (m_styleToggles & style)
            controlWord(off);
    };
    toggle(props.bold, StyleBold, "b", "b0");
    toggle(props.italic, StyleItalic, "i", "i0");
    toggle(props.underline, StyleUnderline, "ul", "ulnone");
    toggle(props.strike, StyleStrike, "strike", "strike0");
    if (props.script != 0)
        controlWord(props.script > 0 ? "super" : "sub");
    if (props.raise != 0)
        controlWord(props.raise > 0 ? "up" : "dn", std::abs(props.raise));
    if (props.scale != 100)
        controlWord("charscalex", props.scale);
    if (props.language >= 0)
        controlWord("lang", props.language);
    if (props.eastAsianLanguage >= 0)
        controlWord("langfe", props.eastAsianLanguage);
    if (props.color > 0)
        controlWord("cf", props.color);
    if (props.highlight > 0)
        controlWord("highlight", props.highlight);
}

void Writer::writeRun(const RunProps &props, const QString &text, qsizetype begin, qsizetype end,
                      const QTextCharFormat &format)
{
    openRun(props);
    m_uc = 1;
    const QChar *data = text.constData();
    qsizetype runStart = begin;
    for (qsizetype i = begin; i < end; ++i) {
        if (data[i].unicode() == QChar::ObjectReplacementCharacter && format.isImageFormat()) {
            writeText(props, data + runStart, data + i);
            writePicture(format.toImageFormat());
            runStart = i + 1;
        }
    }
    writeText(props, data + runStart, data + end);
    m_out.push_back('}');
    m_needDelimiter = false;
}

void Writer::writeParagraphProperties(const QTextBlock &block, int depth,
                                      const ListTable::Ref *place)
{
    // Most paragraphs share a handful of block formats: look each up once.
    std::string stated;
    const std::string *properties = &stated;
    // A paragraph shown right to left (marked so, or found so from its
    // letters) is marked for every reader: RTF's paragraphs run left to right
    // unless they say otherwise.
    const bool rightToLeft = block.textDirection() == Qt::RightToLeft;
    // A section's page break is its \sect's, written before the paragraph.
    const auto format = [this, &block] {
        QTextBlockFormat format = block.blockFormat();
        if (sectionPageBreak(format))
            format.clearProperty(QTextFormat::PageBreakPolicy);
        return format;
    };
    if (!place && depth == 0) {
        const int key = block.blockFormatIndex() * 2 + int(rightToLeft);
        auto found = m_propertiesByFormat.constFind(key);
        if (found == m_propertiesByFormat.constEnd())
            found = m_propertiesByFormat.insert(
                key, paragraphProperties(
                         format(), 0, nullptr, 0, rightToLeft,
                         [this](QRgb rgb) { return colorIndex(rgb); }, &m_styles));
        properties = &*found;
    } else {
        stated = paragraphProperties(
            format(), depth, place, m_lists.levelTwips(), rightToLeft,
            [this](QRgb rgb) { return colorIndex(rgb); }, &m_styles);
    }
    if (!properties->empty()) {
        m_out.append(*properties);
        m_needDelimiter = true;
        m_plainParagraph = false;
    } else if (!m_plainParagraph) {
        controlWord("pard");
        m_plainParagraph = true;
    }
}

// The section break a paragraph begins goes before it, as read; a table's
// goes before the table.
void Writer::writeSectionBreak(const QTextBlock &block)
{
    if (!m_whole)
        return;
    const QTextBlockFormat format = block.blockFormat();
    const QByteArray raw = format.property(sectionBreakProperty).toByteArray();
    if (raw.isEmpty())
        return;
    // A paragraph split off a section's first one (Enter) took its format
    // along: the section begins at the first of them.
    const QTextBlock previous = block.previous();
    if (previous.isValid() && previous.blockFormat().hasProperty(sectionNumberProperty) &&
        previous.blockFormat().intProperty(sectionNumberProperty) ==
            format.intProperty(sectionNumberProperty))
        return;
    const QByteArray renumbered = m_kept(raw);
    m_out.append(renumbered.constData(), size_t(renumbered.size()));
    m_needDelimiter = true;
}

// True when the paragraph's page break is the one of the section it begins
// (the reader gives a section's first paragraph its page break unless the
// section runs on, \sbknone).
bool Writer::sectionPageBreak(const QTextBlockFormat &format) const
{
    if (!m_whole || !(format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore))
        return false;
    const QByteArray raw = format.property(sectionBreakProperty).toByteArray();
    return !raw.isEmpty() && !raw.contains("\\sbknone");
}

void Writer::writeParagraph(const QTextBlock &block, int depth, const char *end)
{
    if (depth == 0)
        writeSectionBreak(block);
    const QTextList *list = block.textList();
    ListTable::Ref place;
    if (list)
        place = m_lists.refFor(*list, m_previousList);
    // A sublist may become a deeper level of the list of the item right
    // before it (see ListTable::refFor); text in no list where that item
    // flows parts them, and the sublist is then a list of its own.
    if (list) {
        m_previousList = list;
        m_previousFlow = flowOf(block);
    } else if (m_previousList && block.length() > 1 && flowOf(block) == m_previousFlow) {
        m_previousList = nullptr;
    }
    // A piece that continues a line (see softBreakProperty) goes on in the
    // paragraph its first piece began.
    if (!(m_softBreaks && continuesLine(block)))
        writeParagraphProperties(block, depth, list ? &place : nullptr);
    if (list)
        writeListText(block, *list);
    const int blockStart = block.position();
    // Neighbouring pieces of text that differ only in what the file does not
    // state are one run: a reader joins them, so a second save writes them
    // as the first did.
    QString runText;
    RunProps runProps;
    const QString blockText = block.text();
    qsizetype markRest = 0; // characters of a mark's number still to skip
    const auto endRun = [&] {
        if (runText.isEmpty())
            return;
        writeRun(runProps, runText, 0, runText.size(), QTextCharFormat());
        runText.clear();
    };
    // A run split by an edit (a word typed in bold beside a bookmark or a
    // shape) holds the run's kept groups on each piece; a read never gives
    // two neighbours the same ones (see Kept::Collector::finish()). They are
    // written once: those before the first piece, those after the last.
    QByteArray previousBefore;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const int start = fragment.position();
        const int length = fragment.length();
        const QByteArray before = fragment.charFormat().property(keptBeforeProperty).toByteArray();
        const bool repeatsBefore = !before.isEmpty() && before == previousBefore;
        previousBefore = before;
        if (start + length <= m_from || start >= m_to)
            continue;
        const qsizetype begin = std::max(0, m_from - start);
        const qsizetype stop = std::min(length, m_to - start);
        const QString text = fragment.text();
        const QTextCharFormat format = fragment.charFormat();
        // What stands before the character goes outside a field that ends
        // or begins there.
        const QByteArray field = format.property(keptFieldProperty).toByteArray();
        const bool keptBefore =
            begin == 0 && format.hasProperty(keptBeforeProperty) && !repeatsBefore;
        // The block's text from here: a mark's number can go on in the
        // pieces after this one.
        const QStringView fromHere = QStringView(blockText).sliced(start - blockStart);
        if (field != m_field || keptBefore || footnoteMarkAt(fragment, fromHere, begin))
            endRun();
        if (field != m_field)
            switchField({});
        if (begin == 0 && !repeatsBefore)
            writeKept(format, keptBeforeProperty);
        if (!field.isEmpty() && field != m_field) {
            // A result in one formatting, with nothing kept inside it, is
            // written in a group of that formatting (see switchField()).
            // Its runs state what is on, not what is off: in a result of
            // several formattings the group's would carry into the others.
            const RunProps first = propsFor(fragment);
            bool uniform = true;
            for (auto next = it; uniform && !next.atEnd(); ++next) {
                const QTextFragment part = next.fragment();
                const QTextCharFormat partFormat = part.charFormat();
                if (partFormat.property(keptFieldProperty).toByteArray() != field)
                    break;
                uniform = propsFor(part) == first && !partFormat.hasProperty(keptAfterProperty) &&
                          !partFormat.hasProperty(footnoteMarkProperty) &&
                          (next == it || !partFormat.hasProperty(keptBeforeProperty));
            }
            switchField(field, uniform ? &first : nullptr);
        }
        qsizetype textBegin = begin;
        if (markRest > 0) {
            // The rest of a mark's number, written with the mark.
            textBegin = std::min<qsizetype>(begin + markRest, stop);
            markRest -= textBegin - begin;
        } else {
            const qsizetype written = writeFootnoteMark(fragment, fromHere, begin);
            textBegin = std::min<qsizetype>(begin + written, stop);
            markRest = written - (textBegin - begin);
        }
        if (textBegin < stop) {
            const RunProps props = propsFor(fragment);
            if (format.isImageFormat()) {
                endRun();
                writeRun(props, text, textBegin, stop, format);
            } else {
                if (!(props == runProps))
                    endRun();
                runProps = props;
                runText += QStringView(text).sliced(textBegin, stop - textBegin);
            }
        }
        if (stop == length && format.hasProperty(keptAfterProperty)) {
            auto next = it;
            ++next;
            const bool repeated = !next.atEnd() && next.fragment().position() < m_to &&
                                  next.fragment().charFormat().property(keptAfterProperty) ==
                                      format.property(keptAfterProperty);
            if (!repeated) {
                endRun();
                writeKept(format, keptAfterProperty);
            }
        }
    }
    endRun();
    // A field ends with its paragraph, so that its group never crosses a
    // paragraph's or a table cell's own.
    switchField({});
    // The paragraph mark sits after the block's last character.
    const int separator = blockStart + block.length() - 1;
    if (separator >= m_from && separator < m_to &&
        !(m_softBreaks && depth == 0 && continuesLine(block.next()))) {
        // An empty line is as high as its paragraph mark's font: the mark
        // read with it says which when that is not the plain one.
        RunProps mark;
        if (block.length() == 1) {
            const QTextBlockFormat format = block.blockFormat();
            if (format.hasProperty(markHalfPointsProperty)) {
                const QString family = format.stringProperty(markFamilyProperty);
                mark.font = fontIndex(family.isEmpty() ? m_defaultFamily : family);
                mark.halfPoints = std::clamp(format.intProperty(markHalfPointsProperty), 1, 3276);
            }
        }
        // What the file had in the paragraph with no character to hold it;
        // a paragraph split off it (Enter) took the format along, not that.
        const QByteArray kept = block.blockFormat().property(keptMarkProperty).toByteArray();
        if (!kept.isEmpty() &&
            !(block.previous().isValid() &&
              block.previous().blockFormat().property(keptMarkProperty).toByteArray() == kept)) {
            const QByteArray renumbered = m_kept(kept);
            m_out.append(renumbered.constData(), size_t(renumbered.size()));
            m_needDelimiter = false;
        }
        const bool markRun = !(mark == RunProps());
        if (markRun)
            openRun(mark);
        controlWord(end);
        if (markRun) {
            m_out.push_back('}');
            m_needDelimiter = false;
        }
        if (depth == 0) {
            m_out.push_back('\n');
            m_needDelimiter = false;
        }
    }
}

void Writer::writeListText(const QTextBlock &block, const QTextList &list)
{
    // What a reader that knows no \ls shows in front of the item.
    // The parts of a long list count on as one (see listChainProperty).
    // A range may start inside the list.
    const QVariant chain = list.format().property(listChainProperty);
    int *counted = nullptr;
    if (chain.isValid()) {
        auto found = m_chainItemCount.find(chain.toInt());
        if (found == m_chainItemCount.end()) {
            if (!m_chains)
                m_chains.emplace(*block.document());
            found = m_chainItemCount.insert(chain.toInt(), listItemIndex(block, &*m_chains));
        }
        counted = &*found;
    } else {
        auto found = m_itemCount.find(&list);
        if (found == m_itemCount.end())
            found = m_itemCount.insert(&list, list.itemNumber(block));
        counted = &*found;
    }
    const int index = (*counted)++;
    QString label;
    switch (list.format().style()) {
    case QTextListFormat::ListDisc:
        label = QStringLiteral("\u2022");
        break;
    case QTextListFormat::ListCircle:
        label = QStringLiteral("\u25E6");
        break;
    case QTextListFormat::ListSquare:
        label = QStringLiteral("\u25AA");
        break;
    case QTextListFormat::ListStyleUndefined:
        break; // a level without a number shows no label
    default:
        label = listLabel(list, index);
        break;
    }
    if (const QString own = list.format().property(listBulletProperty).toString(); !own.isEmpty())
        label = own;
    RunProps props;
    props.halfPoints = m_defaultHalfPoints;
    const auto first = block.begin();
    if (!first.atEnd())
        props = propsFor(first.fragment());
    m_out.append("{\\listtext");
    m_needDelimiter = true;
    controlWord("f", props.font);
    controlWord("fs", props.halfPoints);
    m_uc = 1;
    writeText(props, label.constData(), label.constData() + label.size());
    controlWord("tab");
    m_out.push_back('}');
    m_needDelimiter = false;
}

// Qt keeps an empty paragraph before a table that begins the document or a
// cell (`start`); unless the file had one there (ownParagraphProperty),
// other readers would show one the original did not have.
bool Writer::startsBeforeTable(const QTextBlock &block, const QTextFrame *container,
                               int start) const
{
    const QTextBlock next = block.next();
    if (block.position() != start || block.length() != 1 || !next.isValid() || block.textList() ||
        block.blockFormat().pageBreakPolicy() != QTextFormat::PageBreak_Auto ||
        block.blockFormat().boolProperty(ownParagraphProperty) ||
        block.blockFormat().hasProperty(keptMarkProperty))
        return false;
    if (m_document.frameAt(block.position()) != container)
        return false;
    return tableAt(m_document, next.position(), container) != nullptr;
}

void Writer::writeTable(const QTextTable &table, int depth, int availableTwips)
{
    const std::vector<int> widths = columnWidths(table.format(), table.columns(), availableTwips);
    const int gap = twipsOf(table.format().cellPadding());
    const char *const cellEnd = depth == 1 ? "cell" : "nestcell";
    const auto colour = [this](QRgb rgb) { return colorIndex(rgb); };
    const std::vector<bool> drawn = drawnBoundaries(table);
    for (int row = 0; row < table.rows(); ++row) {
        const int columns = writtenColumns(table, row);
        const std::string definition = rowDefinition(table, row, widths, colour, columns, drawn);
        if (depth == 1) {
            m_out.append(definition);
            m_needDelimiter = true;
        }
        for (int column = 0; column < columns;) {
            const QTextTableCell cell = table.cellAt(row, column);
            const int written = column;
            column += writtenSpan(table, row, column, columns, drawn);
            if (cell.row() != row || cell.column() != written) {
                // Covered by a merged cell: an empty cell of its own in RTF.
                m_out.append(paragraphProperties(QTextBlockFormat(), depth, nullptr, 0));
                m_needDelimiter = true;
                controlWord(cellEnd);
                continue;
            }
            int cellTwips = 0;
            for (int c = cell.column();
                 c < cell.column() + cell.columnSpan() && c < table.columns(); ++c)
                cellTwips += widths[size_t(c)];
            const int last = cell.lastPosition();
            for (QTextBlock block = m_document.findBlock(cell.firstPosition());
                 block.isValid() && block.position() <= last;) {
                if (const QTextTable *inner = tableAt(m_document, block.position(), &table)) {
                    writeTable(*inner, depth + 1, std::max(cellTwips - 2 * gap, 360));
                    block = m_document.findBlock(inner->lastPosition() + 1);
                    continue;
                }
                const QTextBlock next = block.next();
                if (startsBeforeTable(block, &table, cell.firstPosition())) {
                    block = next;
                    continue;
                }
                const bool lastInCell = !next.isValid() || next.position() > last;
                writeParagraph(block, depth, lastInCell ? cellEnd : "par");
                block = next;
            }
        }
        if (depth == 1) {
            controlWord("row");
        } else {
            // Word's form of a nested row: its definition after its cells.
            m_out.append("{\\*\\nesttableprops");
            m_out.append(definition);
            m_needDelimiter = true;
            controlWord("nestrow");
            m_out.append("}{\\nonesttables\\par}");
        }
        m_out.push_back('\n');
        m_needDelimiter = false;
    }
    m_plainParagraph = false;
}

// Groups kept from the file the text came from, renumbered into this
// file's font and colour tables.
void Writer::writeKept(const QTextCharFormat &format, int property)
{
    const QByteArray raw = format.property(property).toByteArray();
    if (raw.isEmpty())
        return;
    const QByteArray renumbered = m_kept(raw);
    m_out.append(renumbered.constData(), size_t(renumbered.size()));
    m_needDelimiter = false;
}

// Consecutive characters with one field instruction are that field's result.
void Writer::switchField(const QByteArray &instruction, const RunProps *first)
{
    if (instruction == m_field)
        return;
    if (!m_field.isEmpty())
        m_out.append(m_fieldGrouped ? "}}}" : "}}");
    m_field = instruction;
    m_fieldGrouped = false;
    if (!m_field.isEmpty()) {
        // A reader that works a field's result out itself (SEQ, PAGE,
        // DATE) shows it in the formatting the field stands in, not its
        // result's: a field in one formatting goes in a group of it.
        if (first) {
            openRun(*first);
            m_fieldGrouped = true;
        }
        m_out.append("{\\field");
        const QByteArray renumbered = m_kept(m_field);
        m_out.append(renumbered.constData(), size_t(renumbered.size()));
        m_out.append("{\\fldrslt ");
    }
    m_needDelimiter = false;
}

// An automatic footnote number is written as the mark, so that it numbers
// itself: whether the text from here begins one. Its digits can stand in
// several pieces (a footnote kept after the last).
bool Writer::footnoteMarkAt(const QTextFragment &fragment, QStringView fromHere,
                            qsizetype begin) const
{
    const QString number = fragment.charFormat().property(footnoteMarkProperty).toString();
    if (number.isEmpty() || begin != 0 || !fromHere.startsWith(number))
        return false;
    // A reader numbers the marks itself, one after another: a mark whose
    // number would come out otherwise (a copied part, a mark lost) stays text.
    return number == QString::number(m_footnotes + 1);
}

// Returns how many characters of the text from here the mark stands for.
qsizetype Writer::writeFootnoteMark(const QTextFragment &fragment, QStringView fromHere,
                                    qsizetype begin)
{
    if (!footnoteMarkAt(fragment, fromHere, begin))
        return 0;
    const QString number = fragment.charFormat().property(footnoteMarkProperty).toString();
    ++m_footnotes;
    openRun(propsFor(fragment));
    controlWord("chftn");
    m_out.push_back('}');
    m_needDelimiter = false;
    return number.size();
}

std::string Writer::header(const QByteArray &preamble, bool whole) const
{
    std::string out;
    out.append("{\\rtf1\\ansi\\ansicpg");
    out.append(std::to_string(m_codePage));
    out.append("\\deff0\n{\\fonttbl");
    for (size_t i = 0; i < m_fonts.size(); ++i) {
        const FontEntry &font = m_fonts[i];
        out.append("{\\f" + std::to_string(i));
        if (font.read && !font.read->family.isEmpty())
            out.append("\\" + font.read->family.toStdString());
        else
            out.append("\\fnil");
        out.append("\\fcharset" + std::to_string(font.charset));
        if (font.read && font.read->codePage > 0)
            out.append("\\cpg" + std::to_string(font.read->codePage));
        if (font.read && font.read->pitch >= 0)
            out.append("\\fprq" + std::to_string(font.read->pitch));
        if (font.read && !font.read->panose.isEmpty())
            out.append("{\\*\\panose " + font.read->panose.toStdString() + "}");
        else
            out.push_back(' ');
        const bool bytesNamed =
            CodePage::fromCharset(font.charset) != 0 || (font.read && font.read->codePage > 0);
        const auto writeName = [&](const QString &family) {
            const std::u16string_view utf16(reinterpret_cast<const char16_t *>(family.utf16()),
                                            size_t(family.size()));
            // In the code page readers will decode it with: the one its charset
            // names, one character at a time. A character the code page lacks
            // goes as \uN with "?" for older readers, so the name comes back.
            const auto escapedBytes = [&out](const std::string &bytes) {
                for (char byte : bytes) {
                    const auto u = static_cast<unsigned char>(byte);
                    if (u >= 0x80 || u < 0x20 || byte == ';' || byte == '\\' || byte == '{' ||
                        byte == '}') {
                        out.append("\\'");
                        out.push_back(hexDigits[u >> 4]);
                        out.push_back(hexDigits[u & 15]);
                    } else {
                        out.push_back(byte);
                    }
                }
            };
            for (size_t i = 0; i < utf16.size(); ++i) {
                const bool pair = QChar::isHighSurrogate(utf16[i]) && i + 1 < utf16.size() &&
                                  QChar::isLowSurrogate(utf16[i + 1]);
                const std::u16string_view character = utf16.substr(i, pair ? 2 : 1);
                // A charset that names no code page (symbol, default) leaves
                // a reader to decode the name's bytes in its own: \uN only.
                const std::string bytes =
                    bytesNamed || (character.size() == 1 && character[0] < 0x80)
                        ? codePageBytes(character, font.codePage)
                        : std::string("?");
                if (bytes == "?" && character != u"?") {
                    for (char16_t unit : character) {
                        out.append("\\u");
                        out.append(std::to_string(unit > 32767 ? int(unit) - 65536 : int(unit)));
                        out.push_back('?');
                    }
                } else {
                    escapedBytes(bytes);
                }
                if (pair)
                    ++i;
            }
        };
        writeName(font.family);
        if (font.read && !font.read->alt.isEmpty()) {
            out.append("{\\*\\falt ");
            writeName(font.read->alt);
            out.push_back('}');
        }
        out.append(";}");
    }
    out.append("}\n{\\colortbl ;");
    for (QRgb rgb : m_colors) {
        out.append("\\red" + std::to_string(qRed(rgb)) + "\\green" + std::to_string(qGreen(rgb)) +
                   "\\blue" + std::to_string(qBlue(rgb)) + ";");
    }
    out.append("}\n");
    out.append(m_lists.header());
    // A new document is on Inkwell's page: A4 with 20 mm margins, as it
    // prints; other readers would take US Letter. Read back, these words are
    // kept, and written with the other kept ones. A file read keeps the page
    // it stated, or none, so that other readers lay its copy out on the page
    // they laid the file out on.
    if (whole && !m_fileRead)
        out.append("\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134");
    out.append(preamble.constData(), size_t(preamble.size()));
    out.append("\\viewkind4\\uc1\\pard\n");
    return out;
}

void Writer::begin(int from, int to)
{
    from = std::max(from, 0);
    to = std::min(to, m_document.characterCount());
    m_out.reserve(size_t(std::max(0, to - from)) * 2 + 256);
    m_from = from;
    m_to = to;
    m_whole = from == 0 && to >= m_document.characterCount();
    // Without frames no paragraph is in a table: no look-up per paragraph.
    m_tables = !m_document.rootFrame()->childFrames().isEmpty();
    m_next = from < to ? m_document.findBlock(from) : QTextBlock();
}

bool Writer::writeSome(const QDeadlineTimer &deadline)
{
    const QTextFrame *root = m_document.rootFrame();
    while (m_next.isValid() && m_next.position() < m_to) {
        // A table is written as one when all of it is in the range;
        // part of one goes out as plain paragraphs.
        const QTextTable *table = m_tables ? tableAt(m_document, m_next.position(), root) : nullptr;
        if (!table && m_tables && startsBeforeTable(m_next, root, 0)) {
            m_next = m_next.next(); // nothing to write
        } else if (table && table->firstPosition() - 1 >= m_from && table->lastPosition() < m_to) {
            writeSectionBreak(m_document.findBlock(table->firstPosition()));
            writeTable(*table, 1, pageTextTwips);
            m_next = m_document.findBlock(table->lastPosition() + 1);
        } else {
            writeParagraph(m_next, 0, "par");
            m_next = m_next.next();
        }
        // At least one paragraph or table a step, so that steps move on.
        if (deadline.hasExpired())
            return !m_next.isValid() || m_next.position() >= m_to;
    }
    return true;
}

QByteArray Writer::finish()
{
    switchField({});
    m_out.append("}\n");
    // The document's own kept groups, with a copy of all of it only.
    const bool whole = m_from == 0 && m_to >= m_document.characterCount();
    const std::string head = header(whole ? m_kept.preamble() : QByteArray(), whole);
    QByteArray result;
    result.reserve(qsizetype(head.size() + m_out.size()));
    result.append(head.data(), qsizetype(head.size()));
    result.append(m_out.data(), qsizetype(m_out.size()));
    return result;
}

} // namespace

QByteArray write(const QTextDocument &document, int codePage)
{
    return write(document, 0, document.characterCount(), codePage);
}

QByteArray write(const QTextDocument &document, int from, int to, int codePage)
{
    Writer writer(document, codePage);
    return writer.write(from, to);
}

struct SlicedWriter::State {
    Writer writer;
    State(const QTextDocument &document, int codePage) : writer(document, codePage) {}
};

SlicedWriter::SlicedWriter(const QTextDocument &document, int codePage)
    : m_state(std::make_unique<State>(document, codePage))
{
    m_state->writer.begin(0, document.characterCount());
}

SlicedWriter::~SlicedWriter() = default;

bool SlicedWriter::writeSome(const QDeadlineTimer &deadline)
{
    // Once all is written there is nothing left to step over: true again.
    return m_state->writer.writeSome(deadline);
}

QByteArray SlicedWriter::take()
{
    return m_state->writer.finish();
}

} // namespace Inkwell::Rtf
