// The document side of the RTF reader: text collected in runs of equal
// formatting, each inserted with one insertText(), and the paragraph and cell
// ends that wait until more content follows, so that the \par closing the
// last paragraph adds no empty one (LibreOffice reads it so, and the writer
// ends every paragraph with \par).
#pragma once

#include <QByteArray>
#include <QColor>
#include <QLatin1StringView>
#include <QString>
#include <QTextCharFormat>

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <vector>

class QTextCursor;
class QTextImageFormat;

namespace Inkwell::Rtf {

// The most \up or \dn the reader takes, in half-points: a page's height.
inline constexpr int maxRaise = 1700;

struct CharProps {
    int font = -1;  // -1: the document's default font (\deff)
    int color = -1; // -1: automatic
    // The font for CJK characters when \dbch named one (\dbch\afN, \dbch\fN).
    int eastAsianFont = -1;
    int highlight = -1; // \highlight, \cb: a colour table index; -1 none
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false; // \v: kept, not shown
    // \super (1) or \sub (-1): raised or lowered and smaller.
    signed char script = 0;
    short raise = 0;   // \up (> 0), \dn (< 0): half-points
    short scale = 100; // \charscalex: the width in percent
    int language = -1; // \lang; -1: none stated
    int eastAsianLanguage = -1; // \langfe
    bool operator==(const CharProps &) const = default;
};

struct CharPropsHash {
    size_t operator()(const CharProps &p) const
    {
        size_t h = std::hash<int>()(p.font);
        h = h * 31 + std::hash<int>()(p.color);
        h = h * 31 + std::hash<int>()(p.halfPoints);
        h = h * 31 + std::hash<int>()(p.eastAsianFont);
        h = h * 31 + std::hash<int>()(p.highlight);
        h = h * 3 + size_t(p.script + 1);
        h = h * 31 + std::hash<int>()(p.raise * 1024 + p.scale);
        h = h * 31 + std::hash<int>()(p.language);
        h = h * 31 + std::hash<int>()(p.eastAsianLanguage);
        return h * 16 + (p.bold ? 8 : 0) + (p.italic ? 4 : 0) + (p.underline ? 2 : 0) +
               (p.strike ? 1 : 0);
    }
};

// A font table entry, with what other readers need of it and the writer
// writes back as read.
struct Font {
    QString name;
    int charset = -1;
    QByteArray family; // the family word (\froman ...) without its backslash
    int pitch = -1;    // \fprq
    int codePage = 0;  // \cpg
    QString alt;       // {\*\falt}
    QByteArray panose; // {\*\panose}, as its hex digits
};

// The font and colour tables as read so far.
struct Tables {
    std::unordered_map<int, Font> fonts;
    std::vector<QColor> colors;
    int deff = 0; // \deff: the font of text that names none

    // A colour table entry: -1 for a component not named; none named is
    // "automatic".
    void addColor(int red, int green, int blue);
    // An empty paragraph's mark in font `font` (-1: \deff's) and size,
    // kept on its block to be written (markFamilyProperty and after).
    void setMark(QTextBlockFormat &format, int font, int halfPoints) const;
};

class TextRuns {
public:
    TextRuns(QTextCursor &cursor, const Tables &tables) : m_cursor(cursor), m_tables(tables) {}

    // Content follows: the paragraph and cell ends seen so far are written.
    void beginContent();
    // Text in the given formatting, after beginContent(). CJK characters
    // take the props' East-Asian font.
    void add(char16_t c, const CharProps &props);
    void add(QLatin1StringView text, const CharProps &props);
    // Inserts the run collected so far.
    void flush() { flushRun(m_textProps); }
    void insertImage(const QTextImageFormat &image);
    // A paragraph ends with nothing in it: after the paragraph ends before
    // it are written, its block takes the mark's formatting, which Qt lays
    // the empty line out in.
    void emptyParagraph(const CharProps &props);
    // A section ended by a paragraph with no character: its mark's font,
    // where that paragraph is the cursor's own already (the one Qt keeps
    // after a table); a paragraph still to be made takes it when made.
    void markEmptyBlock(const CharProps &props);
    // The end of the data: drops the last paragraph end and inserts the rest.
    void finish();

    void paragraphBreak()
    {
        ++m_pendingBreaks;
        m_pendingTabs = 0;
        m_needPar = false;
    }
    // Cells kept as text (past the table caps): a tab after each cell, a
    // paragraph end after the row.
    void cellEnd() { ++m_pendingTabs; }
    void rowEnd();

    // For the structure builder, which needs the paragraph ends in place
    // before it formats a block or moves the cursor.
    int pendingBreaks() const { return m_pendingBreaks; }
    bool paragraphHasContent() const { return m_needPar; }
    // Writes the pending ends into the run, as content following would.
    void writePending()
    {
        if (m_pendingBreaks == 0 && m_pendingTabs == 0)
            return;
        const bool tabs = m_pendingTabs > 0;
        beginContent();
        m_needPar = tabs;
    }
    void dropBreaks(int count) { m_pendingBreaks = std::max(0, m_pendingBreaks - count); }
    void dropPending()
    {
        m_pendingBreaks = 0;
        m_pendingTabs = 0;
        m_needPar = false;
    }

    // The tables changed: formats made from them are made again.
    void tablesChanged() { m_formats.clear(); }

private:
    // The formatting a character gets: CJK text takes the \dbch font.
    static CharProps runProps(CharProps props, char16_t c);
    void flushRun(const CharProps &next);
    QTextCharFormat formatFor(const CharProps &props);

    QTextCursor &m_cursor;
    const Tables &m_tables;
    QString m_text; // text of the run being collected
    CharProps m_textProps;
    int m_pendingBreaks = 0; // \par seen, written when more content follows
    int m_pendingTabs = 0;   // \cell seen, written when more content follows
    bool m_needPar = false;  // content since the last paragraph end
    std::unordered_map<CharProps, QTextCharFormat, CharPropsHash> m_formats;
};

} // namespace Inkwell::Rtf
