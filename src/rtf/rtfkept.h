// RTF the editor does not show but must write back: headers, footers,
// footnotes, fields' instructions, bookmarks, document information and
// destinations it does not know. They are held as the raw RTF they were read
// as, on the document (groups that belong to the whole document) or on the
// character they stand before (groups inside the text).
//
// Their font and colour numbers refer to the table of the file they came
// from; the reader renumbers them into a table kept on the document, and the
// writer renumbers them again into the tables it writes.
#pragma once

#include "core/formatproperties.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QList>
#include <QString>
#include <QTextCursor>
#include <QTextFormat>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

class QTextCursor;
class QTextDocument;

namespace Inkwell::Rtf {

class TextRuns;
struct Font;
struct Tables;

namespace Kept {

// The document's own groups (QByteArray), written after the font and colour
// tables.
inline constexpr char preambleProperty[] = "inkwellRtfPreamble";
// The fonts and colours the kept groups' numbers refer to (QVariantMap).
inline constexpr char tablesProperty[] = "inkwellRtfKeptTables";
// The document is a whole file read (bool): its page is what the file
// stated, or each reader's own default page when it stated none.
inline constexpr char fileReadProperty[] = "inkwellRtfFileRead";

// Kept bytes a document may hold; groups past it are dropped. A hostile file
// cannot make us hold more than this besides its own bytes.
inline constexpr qsizetype maxBytes = qsizetype(64) * 1024 * 1024;

// What a kept group's numbers refer to: fonts by name and character set,
// colours by value (an invalid colour is "automatic").
struct FontRef {
    QString name;
    int charset = -1;
    bool operator==(const FontRef &) const = default;
};
struct KeptTables {
    QList<FontRef> fonts;
    QList<QColor> colors;

    static KeptTables of(const QTextDocument &document);
    void storeOn(QTextDocument &document) const;
    int addFont(const FontRef &font);
    int addColor(const QColor &color);
};

// The document's own kept groups and the tables of all, as values that a
// copy of the document takes along.
struct DocumentGroups {
    QByteArray preamble; // empty when the document no longer is the one read
    QVariant tables;
    QVariant fontTable;    // see fontTableOf()
    bool fileRead = false; // see isFileRead()
};
DocumentGroups documentGroups(const QTextDocument &document);

// The font table the document was read with (a QVariantMap: "fonts", a list
// of one map per entry, and "deff", the default font's name), so that a save
// writes each font's charset, code page, pitch, alternative and panose as
// read, and the same default font. Null when the document was not read from
// RTF or was emptied since.
QVariant fontTableOf(const QTextDocument &document);
void setFontTable(QTextDocument &document, const QVariant &table);
QVariant fontTableValue(const Tables &tables);
// One entry of such a table.
Font fontOf(const QVariantMap &entry);
void setDocumentGroups(QTextDocument &document, const DocumentGroups &groups);
// True while the document is the one read from a whole file (a new
// document, or one emptied since, is not).
bool isFileRead(const QTextDocument &document);

// Rewrites the numbers of the font words (\f \af ...) and colour words
// (\cf \cb \highlight ...) of raw RTF; everything else, \bin data included,
// is copied byte for byte.
QByteArray renumber(QByteArrayView raw, const std::function<int(int)> &font,
                    const std::function<int(int)> &color);

// The reader's side: the offsets of the open groups, which of them are kept,
// and where in the document each kept group goes.
class Collector {
public:
    // Unknown: a "\*" destination the reader does not know, kept with the
    // document before the text begins and with the text after.
    enum class Kind : std::uint8_t { None, Document, Inline, Footnote, FieldInstruction, Unknown };

    Collector(QTextCursor &cursor, TextRuns &runs, const Tables &tables);

    // A group opened at `at` (the offset of its "{"), closed just before `end`.
    void open(const char *at);
    void close(const char *end);
    // The innermost open group is kept as `kind`, its destination word ending
    // at `wordEnd`; false when it cannot be (the document's own outer group,
    // or a group with other words or text before the destination word).
    bool keep(Kind kind, const char *wordEnd);
    // A control word outside any destination: the page and section words
    // the writer does not make are kept, with the document before the text
    // begins and with a section after its \sect.
    void documentWord(std::string_view word, int param, bool hasParam);
    // \sect: what follows until the next paragraph begins (the section's
    // words, headers and footers) is that section's, not the document's.
    void sectionBreak();
    // The section break waiting for a paragraph ("\sect" and what followed),
    // once; nothing when none waits.
    std::optional<QByteArray> takeSection()
    {
        std::optional<QByteArray> section = std::move(m_section);
        m_section.reset();
        return section;
    }
    // A \field word, ending at `wordEnd`, in the innermost group.
    void field(const char *wordEnd);
    // Content is about to be inserted at the cursor; true when the collector
    // wants its position (the runs are flushed first).
    bool wantsPosition() const
    {
        return !m_contentSeen || !m_pending.isEmpty() || m_fieldWaiting || m_markEnd >= 0;
    }
    void contentAt(int position);
    // Hidden text (\v), written as `raw`, goes with the next character.
    void hiddenText(const QByteArray &raw)
    {
        if (take(raw.size()))
            addInline(raw);
    }
    // The paragraph the cursor is in ends with no character: the groups
    // waiting for one, then its hidden text (`hidden`, raw), go to its mark
    // (keptMarkProperty).
    void paragraphMark(const QByteArray &hidden);
    // A paragraph or cell ended: the groups waiting now came before the next
    // paragraph, which paragraphMark() leaves waiting.
    void paragraphStart() { m_pendingFrom = m_pending.size(); }
    // An automatic footnote mark was inserted at [from, to).
    void footnoteMark(int from, int to, const QString &number);
    // The table structure is about to change at or after `from` (columns
    // added, cells merged): the positions held there follow the change until
    // unpin(). Nested pins are not needed; a second pin() is ignored.
    void pin(int from);
    void unpin();
    // The end of the data: the kept groups go onto the document.
    void finish();
    qint64 droppedBytes() const { return m_dropped; }
    // The document's groups kept so far (the style sheet, once read).
    QByteArrayView preamble() const { return m_preamble; }

private:
    struct Group {
        const char *start = nullptr;
        Kind kind = Kind::None;
        bool isField = false;
        QByteArray instruction; // for a field: its {\*\fldinst} group
        int resultStart = -1;   // for a field: where its result text begins
    };
    struct Attach {
        int from;
        int to;
        int property;
        QByteArray raw;
    };
    bool take(qsizetype bytes);
    QByteArray own(QByteArrayView raw);
    int flushedPosition();
    void addInline(const QByteArray &raw);
    Group *innermostField();

    QTextCursor &m_cursor;
    TextRuns &m_runs;
    const Tables &m_tables;
    KeptTables m_kept;
    std::vector<Group> m_groups;
    QByteArray m_preamble;
    std::optional<QByteArray> m_section; // a section break waiting for its paragraph
    QByteArray m_pending;                // inline groups waiting for the next character
    qsizetype m_pendingFrom = 0;         // where those of the current paragraph begin
    std::vector<Attach> m_attach;
    int m_markFrom = -1, m_markEnd = -1; // the last footnote mark, until content follows
    bool m_fieldWaiting = false;         // a field with an instruction waits for its result
    bool m_contentSeen = false;
    bool m_whole = true; // read into an empty document: the document's groups are its own
    int m_start = 0;     // where the reader began inserting
    qint64 m_bytes = 0;
    qint64 m_dropped = 0;
    // While pinned: a cursor for each held position, which Qt moves with
    // the edits, and where each position lives.
    std::vector<QTextCursor> m_pins;
    std::vector<int *> m_pinned;
    bool m_pinning = false;
};

// The writer's side: kept groups renumbered into the writer's tables.
class Renumberer {
public:
    Renumberer(const QTextDocument &document, std::function<int(const QString &)> font,
               std::function<int(QRgb)> color);
    QByteArray operator()(const QByteArray &raw);
    QByteArray preamble();

private:
    const QTextDocument &m_document;
    KeptTables m_tables;
    std::function<int(const QString &)> m_font;
    std::function<int(QRgb)> m_color;
};

} // namespace Kept
} // namespace Inkwell::Rtf
