#include "rtf/rtfkept.h"

#include "rtf/rtftextruns.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QVariant>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

namespace Inkwell::Rtf::Kept {

namespace {

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// True when [p, to) holds nothing but a group's destination word: "\*" and
// one control word with its parameter and delimiter, with the line breaks
// the tokenizer drops. Only such a group is kept whole: text read before the
// word (a space too) is already in the document.
bool onlyDestinationWord(const char *p, const char *to)
{
    auto skipSpace = [&] {
        while (p < to && (*p == '\r' || *p == '\n' || *p == '\0'))
            ++p;
    };
    skipSpace();
    if (to - p >= 2 && p[0] == '\\' && p[1] == '*') {
        p += 2;
        skipSpace();
    }
    if (p >= to || *p != '\\')
        return false;
    ++p;
    while (p < to && isLetter(*p))
        ++p;
    if (p < to && *p == '-')
        ++p;
    while (p < to && isDigit(*p))
        ++p;
    if (p < to && *p == ' ')
        ++p;
    return p == to;
}

enum class Numbered : std::uint8_t { None, Font, Color };

Numbered numbered(std::string_view word)
{
    static constexpr std::string_view fonts[] = {"f",         "af",        "deff",      "adeff",
                                                 "stshfdbch", "stshfloch", "stshfhich", "stshfbi"};
    static constexpr std::string_view colors[] = {
        "cf",     "cb",      "highlight", "chcbpat", "chcfpat", "cbpat",      "cfpat",     "ulc",
        "brdrcf", "clcbpat", "clcfpat",   "trcbpat", "trcfpat", "clcbpatraw", "clcfpatraw"};
    for (std::string_view font : fonts)
        if (word == font)
            return Numbered::Font;
    for (std::string_view color : colors)
        if (word == color)
            return Numbered::Color;
    return Numbered::None;
}

// The page, section and footnote words a Word file sets that the writer
// does not make; without \facingp and \titlepg the left, right and
// first-page headers are not shown, without \ftnrstpg or \aftnnrlc the
// footnotes are numbered otherwise.
bool isDocumentWord(std::string_view word)
{
    static constexpr std::string_view words[] = {
        "paperw",     "paperh",      "margl",       "margr",     "margt",      "margb",
        "gutter",     "landscape",   "facingp",     "titlepg",   "headery",    "footery",
        "pgwsxn",     "pghsxn",      "marglsxn",    "margrsxn",  "margtsxn",   "margbsxn",
        "lndscpsxn",  "margmirror",  "pgnstart",    "pgnstarts", "pgnrestart", "pgndec",
        "pgnucrm",    "pgnlcrm",     "pgnucltr",    "pgnlcltr",  "deftab",     "ftnbj",
        "ftntj",      "aftnbj",      "aftntj",      "fet",       "endnotes",   "enddoc",
        "aendnotes",  "aenddoc",     "ftnstart",    "aftnstart", "ftnrstpg",   "ftnrestart",
        "ftnrstcont", "aftnrestart", "aftnrstcont", "ftnnar",    "ftnnalc",    "ftnnauc",
        "ftnnrlc",    "ftnnruc",     "ftnnchi",     "aftnnar",   "aftnnalc",   "aftnnauc",
        "aftnnrlc",   "aftnnruc",    "aftnnchi",    "htmautsp",  "deflang",    "deflangfe",
        "adeflang"};
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

// The words of a section (RTF's section formatting) besides those above:
// its columns, how it begins, its page numbers, line numbers and footnotes.
bool isSectionWord(std::string_view word)
{
    static constexpr std::string_view words[] = {
        "sectd",       "sbknone",      "sbkcol",        "sbkpage",      "sbkeven",
        "sbkodd",      "cols",         "colsx",         "colno",        "colsr",
        "colw",        "linebetcol",   "endnhere",      "binfsxn",      "binsxn",
        "pgnx",        "pgny",         "pgncont",       "pgnhn",        "pgnhnsh",
        "pgnhnsp",     "pgnhnsc",      "pgnhnsm",       "pgnhnsn",      "pgnbidia",
        "pgnbidib",    "pgnchosung",   "pgncnum",       "pgndbnum",     "pgndecd",
        "pgnganada",   "pgngbnum",     "pgnid",         "pgnzodiac",    "guttersxn",
        "margmirsxn",  "linemod",      "linex",         "linestarts",   "linerestart",
        "lineppage",   "linecont",     "vertalt",       "vertalb",      "vertalc",
        "vertalj",     "ltrsect",      "rtlsect",       "sectunlocked", "sectdefaultcl",
        "sectexpand",  "sectlinegrid", "sectspecifycl", "sectspecifyl", "sectspecifygen",
        "stextflow",   "sectrsid",     "sftnbj",        "sftntj",       "sftnstart",
        "sftnrstpg",   "sftnrestart",  "sftnrstcont",   "sftnnar",      "sftnnalc",
        "sftnnauc",    "sftnnrlc",     "sftnnruc",      "sftnnchi",     "sftnnchosung",
        "sftnncnum",   "sftnndbar",    "sftnndbnum",    "sftnndbnumd",  "sftnndbnumk",
        "sftnndbnumt", "sftnnganada",  "sftnngbnum",    "sftnngbnumd",  "sftnngbnumk",
        "sftnngbnuml", "sftnnzodiac",  "saftnstart",    "saftnrestart", "saftnrstcont",
        "saftnnar",    "saftnnalc",    "saftnnauc",     "saftnnrlc",    "saftnnruc",
        "saftnnchi",   "horzsect",     "vertsect"};
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

constexpr char holderName[] = "inkwellRtfPreambleHolder";

const QObject *preambleHolder(const QTextDocument &document)
{
    return document.rootFrame()->findChild<QObject *>(QLatin1String(holderName),
                                                      Qt::FindDirectChildrenOnly);
}

constexpr char fontsKey[] = "fonts";
constexpr char charsetsKey[] = "charsets";
constexpr char colorsKey[] = "colors";

} // namespace

DocumentGroups documentGroups(const QTextDocument &document)
{
    DocumentGroups groups;
    if (preambleHolder(document))
        groups.preamble = document.property(preambleProperty).toByteArray();
    groups.tables = document.property(tablesProperty);
    groups.fontTable = fontTableOf(document);
    groups.fileRead = isFileRead(document);
    return groups;
}

namespace {

// On an object of the root frame, which goes when the document is emptied.
constexpr char fontTableHolderName[] = "inkwellRtfFontTableHolder";
constexpr char fontTableKey[] = "fontTable";

} // namespace

QVariant fontTableOf(const QTextDocument &document)
{
    const QObject *holder = document.rootFrame()->findChild<QObject *>(
        QLatin1String(fontTableHolderName), Qt::FindDirectChildrenOnly);
    return holder ? holder->property(fontTableKey) : QVariant();
}

void setFontTable(QTextDocument &document, const QVariant &table)
{
    QObject *holder = document.rootFrame()->findChild<QObject *>(QLatin1String(fontTableHolderName),
                                                                 Qt::FindDirectChildrenOnly);
    if (!holder) {
        if (!table.isValid())
            return;
        holder = new QObject(document.rootFrame());
        holder->setObjectName(QLatin1String(fontTableHolderName));
    }
    holder->setProperty(fontTableKey, table);
}

QVariant fontTableValue(const Tables &tables)
{
    if (tables.fonts.empty())
        return {};
    // By number, so that the same file gives the same value.
    std::vector<int> numbers;
    for (const auto &entry : tables.fonts)
        numbers.push_back(entry.first);
    std::sort(numbers.begin(), numbers.end());
    QVariantList fonts;
    for (int number : numbers) {
        const Font &font = tables.fonts.at(number);
        fonts.append(QVariantMap{{QStringLiteral("name"), font.name},
                                 {QStringLiteral("charset"), font.charset},
                                 {QStringLiteral("family"), font.family},
                                 {QStringLiteral("pitch"), font.pitch},
                                 {QStringLiteral("codePage"), font.codePage},
                                 {QStringLiteral("alt"), font.alt},
                                 {QStringLiteral("panose"), font.panose}});
    }
    const auto deff = tables.fonts.find(tables.deff);
    return QVariantMap{
        {QStringLiteral("fonts"), fonts},
        {QStringLiteral("deff"), deff != tables.fonts.end() ? deff->second.name : QString()}};
}

Font fontOf(const QVariantMap &entry)
{
    Font font;
    font.name = entry.value(QStringLiteral("name")).toString();
    font.charset = entry.value(QStringLiteral("charset"), -1).toInt();
    font.family = entry.value(QStringLiteral("family")).toByteArray();
    font.pitch = entry.value(QStringLiteral("pitch"), -1).toInt();
    font.codePage = entry.value(QStringLiteral("codePage")).toInt();
    font.alt = entry.value(QStringLiteral("alt")).toString();
    font.panose = entry.value(QStringLiteral("panose")).toByteArray();
    return font;
}

namespace {

void holdPreamble(QTextDocument &document)
{
    if (!preambleHolder(document))
        (new QObject(document.rootFrame()))->setObjectName(QLatin1String(holderName));
}

} // namespace

void setDocumentGroups(QTextDocument &document, const DocumentGroups &groups)
{
    setFontTable(document, groups.fontTable);
    document.setProperty(tablesProperty, groups.tables);
    document.setProperty(preambleProperty, groups.preamble);
    document.setProperty(fileReadProperty, groups.fileRead);
    if (!groups.preamble.isEmpty() || groups.fileRead)
        holdPreamble(document);
}

bool isFileRead(const QTextDocument &document)
{
    return preambleHolder(document) && document.property(fileReadProperty).toBool();
}

KeptTables KeptTables::of(const QTextDocument &document)
{
    KeptTables tables;
    const QVariantMap map = document.property(tablesProperty).toMap();
    const QStringList names = map.value(fontsKey).toStringList();
    const QVariantList charsets = map.value(charsetsKey).toList();
    for (qsizetype i = 0; i < names.size(); ++i)
        tables.fonts.append({names[i], charsets.value(i, -1).toInt()});
    for (const QVariant &color : map.value(colorsKey).toList())
        tables.colors.append(color.value<QColor>());
    return tables;
}

void KeptTables::storeOn(QTextDocument &document) const
{
    QStringList names;
    QVariantList charsets;
    for (const FontRef &font : fonts) {
        names.append(font.name);
        charsets.append(font.charset);
    }
    QVariantList colorList;
    for (const QColor &color : colors)
        colorList.append(color);
    document.setProperty(
        tablesProperty,
        QVariantMap{{fontsKey, names}, {charsetsKey, charsets}, {colorsKey, colorList}});
}

int KeptTables::addFont(const FontRef &font)
{
    const qsizetype found = fonts.indexOf(font);
    if (found >= 0)
        return int(found);
    fonts.append(font);
    return int(fonts.size() - 1);
}

int KeptTables::addColor(const QColor &color)
{
    const qsizetype found = colors.indexOf(color);
    if (found >= 0)
        return int(found);
    colors.append(color);
    return int(colors.size() - 1);
}

QByteArray renumber(QByteArrayView raw, const std::function<int(int)> &font,
                    const std::function<int(int)> &color)
{
    QByteArray out;
    out.reserve(raw.size() + 16);
    const char *p = raw.data();
    const char *const end = p + raw.size();
    while (p < end) {
        if (*p != '\\' || p + 1 >= end) {
            // Everything up to the next backslash is copied as it is.
            const void *next = std::memchr(p + 1, '\\', size_t(end - p - 1));
            const char *stop = next ? static_cast<const char *>(next) : end;
            out.append(p, stop - p);
            p = stop;
            continue;
        }
        if (!isLetter(p[1])) {
            // A control symbol (\' takes its two digits as ordinary bytes).
            out.append(p, 2);
            p += 2;
            continue;
        }
        const char *word = p + 1;
        const char *q = word;
        while (q < end && isLetter(*q))
            ++q;
        const std::string_view name(word, size_t(q - word));
        // The parameter as the tokenizer reads it, so that \bin data is cut
        // where the reader cut it.
        const char *digits = q;
        bool negative = false;
        if (q + 1 < end && *q == '-' && isDigit(q[1])) {
            negative = true;
            ++q;
        }
        long long value = 0;
        const char *numberStart = q;
        while (q < end && isDigit(*q)) {
            if (value < 100000000000LL)
                value = value * 10 + (*q - '0');
            ++q;
        }
        const bool hasParam = q > numberStart;
        if (!hasParam)
            q = digits;
        const long long param =
            std::clamp<long long>(negative ? -value : value, INT32_MIN, INT32_MAX);
        if (name == "bin" && hasParam) {
            // \binN: the delimiter and N bytes of data, copied untouched.
            if (q < end && *q == ' ')
                ++q;
            const long long available = end - q;
            q += std::clamp(param, 0LL, available);
            out.append(p, q - p);
            p = q;
            continue;
        }
        const Numbered kind = hasParam ? numbered(name) : Numbered::None;
        if (kind == Numbered::None || param < 0 || value > INT32_MAX) {
            out.append(p, q - p);
            p = q;
            continue;
        }
        const int mapped = kind == Numbered::Font ? font(int(param)) : color(int(param));
        out.append(p, digits - p);
        out.append(QByteArray::number(mapped));
        p = q;
    }
    return out;
}

Collector::Collector(QTextCursor &cursor, TextRuns &runs, const Tables &tables)
    : m_cursor(cursor), m_runs(runs), m_tables(tables)
{
    if (QTextDocument *document = cursor.document()) {
        m_whole = document->isEmpty();
        if (m_whole) {
            // A new document: nothing of an earlier one is kept.
            document->setProperty(preambleProperty, QVariant());
            document->setProperty(fileReadProperty, QVariant());
            document->setProperty(tablesProperty, QVariant());
            setFontTable(*document, QVariant());
        }
        m_kept = KeptTables::of(*document);
    }
    m_start = cursor.position();
}

void Collector::open(const char *at)
{
    Group group;
    group.start = at;
    m_groups.push_back(std::move(group));
}

bool Collector::take(qsizetype bytes)
{
    if (m_bytes + bytes > maxBytes) {
        m_dropped += bytes;
        return false;
    }
    m_bytes += bytes;
    return true;
}

QByteArray Collector::own(QByteArrayView raw)
{
    // Numbers of the file's tables become numbers of the document's kept table.
    return renumber(
        raw,
        [this](int number) {
            const auto found = m_tables.fonts.find(number);
            if (found == m_tables.fonts.end())
                return m_kept.addFont({});
            return m_kept.addFont({found->second.name, found->second.charset});
        },
        [this](int number) {
            if (number <= 0 || size_t(number) >= m_tables.colors.size())
                return 0;
            const QColor color = m_tables.colors[size_t(number)];
            return color.isValid() ? m_kept.addColor(color) + 1 : 0;
        });
}

int Collector::flushedPosition()
{
    m_runs.flush();
    return m_cursor.position();
}

void Collector::addInline(const QByteArray &raw)
{
    if (m_markEnd >= 0) {
        // A footnote right after its mark goes with the mark: deleting the
        // mark deletes the footnote.
        m_attach.push_back({m_markEnd - 1, m_markEnd, keptAfterProperty, raw});
        return;
    }
    m_pending.append(raw);
}

Collector::Group *Collector::innermostField()
{
    for (auto it = m_groups.rbegin(); it != m_groups.rend(); ++it)
        if (it->isField)
            return &*it;
    return nullptr;
}

void Collector::close(const char *end)
{
    if (m_groups.empty())
        return;
    Group group = std::move(m_groups.back());
    m_groups.pop_back();
    const QByteArrayView raw(group.start, end - group.start);
    if (group.isField) {
        if (group.resultStart >= 0) {
            const int to = flushedPosition();
            if (to > group.resultStart)
                m_attach.push_back({group.resultStart, to, keptFieldProperty, group.instruction});
        } else if (!group.instruction.isEmpty() && take(16)) {
            // No result text to hold the instruction: the field, with an
            // empty result, waits for the next character. (Not the group as
            // it was: whatever else it held is in the document already.)
            m_pending.append("{\\field" + group.instruction + "{\\fldrslt }}");
        }
        m_fieldWaiting = false;
        for (const Group &open : m_groups)
            if (open.isField && !open.instruction.isEmpty() && open.resultStart < 0)
                m_fieldWaiting = true;
    }
    switch (group.kind) {
    case Kind::None:
        break;
    case Kind::Document:
        // After a \sect, headers and footers are the new section's.
        if (take(raw.size()))
            (m_section ? *m_section : m_preamble).append(own(raw));
        break;
    case Kind::Inline:
    case Kind::Unknown:
        if (take(raw.size()))
            m_pending.append(own(raw));
        break;
    case Kind::Footnote:
        if (take(raw.size()))
            addInline(own(raw));
        break;
    case Kind::FieldInstruction:
        if (Group *field = innermostField();
            field && field->instruction.isEmpty() && field->resultStart < 0 && take(raw.size())) {
            field->instruction = own(raw);
            m_fieldWaiting = true;
        }
        break;
    }
}

bool Collector::keep(Kind kind, const char *wordEnd)
{
    // The outer group is the document itself.
    if (m_groups.size() < 2 || !onlyDestinationWord(m_groups.back().start + 1, wordEnd))
        return false;
    Group &group = m_groups.back();
    if (kind == Kind::Unknown && !m_contentSeen)
        kind = Kind::Document;
    group.kind = kind;
    return true;
}

void Collector::documentWord(std::string_view word, int param, bool hasParam)
{
    // Words repeated inside a section (Word states \sectd again before a
    // field) say nothing new: only those before the text or after a \sect.
    if ((m_contentSeen && !m_section) || !(isDocumentWord(word) || isSectionWord(word)))
        return;
    QByteArray text = "\\" + QByteArray(word.data(), qsizetype(word.size()));
    if (hasParam)
        text.append(QByteArray::number(param));
    if (take(text.size()))
        (m_section ? *m_section : m_preamble).append(text);
}

void Collector::sectionBreak()
{
    // Inserted into another document, a file's sections do not become its.
    static constexpr char word[] = "\\sect";
    if (!m_whole || !take(qsizetype(sizeof word - 1)))
        return;
    // A section with no paragraph of its own stays in the break that follows.
    if (m_section)
        m_section->append(word);
    else
        m_section = QByteArray(word);
}

void Collector::field(const char *wordEnd)
{
    if (m_groups.size() >= 2 && onlyDestinationWord(m_groups.back().start + 1, wordEnd))
        m_groups.back().isField = true;
}

void Collector::contentAt(int position)
{
    m_contentSeen = true;
    m_markEnd = m_markFrom = -1;
    if (!m_pending.isEmpty()) {
        m_attach.push_back({position, position + 1, keptBeforeProperty, m_pending});
        m_pending.clear();
    }
    m_pendingFrom = 0;
    if (m_fieldWaiting) {
        for (Group &group : m_groups)
            if (group.isField && !group.instruction.isEmpty() && group.resultStart < 0)
                group.resultStart = position;
        m_fieldWaiting = false;
    }
}

void Collector::paragraphMark(const QByteArray &hidden)
{
    if (m_markEnd >= 0 || !m_contentSeen) {
        // A footnote mark is still the last character: it holds them, as
        // it holds a hidden group closed before the paragraph's end. Before
        // any content they wait for the first character, or go with the
        // document when none comes, as they do when read back.
        if (!hidden.isEmpty())
            hiddenText(hidden);
        return;
    }
    QByteArray raw = m_pending.mid(std::min(m_pendingFrom, m_pending.size()));
    m_pending.truncate(std::min(m_pendingFrom, m_pending.size()));
    if (!hidden.isEmpty() && take(hidden.size()))
        raw.append(hidden);
    if (raw.isEmpty())
        return;
    // Set at the end: a block made after this one would take the format
    // along.
    const int block = m_cursor.block().position();
    m_attach.push_back({block, block, keptMarkProperty, raw});
}

void Collector::footnoteMark(int from, int to, const QString &number)
{
    if (to <= from)
        return;
    m_attach.push_back({from, to, footnoteMarkProperty, number.toUtf8()});
    m_markFrom = from;
    m_markEnd = to;
}

void Collector::pin(int from)
{
    if (m_pinning)
        return;
    m_pinning = true;
    const auto hold = [&](int &position) {
        if (position < from)
            return;
        QTextCursor cursor(m_cursor.document());
        cursor.setPosition(position);
        m_pins.push_back(cursor);
        m_pinned.push_back(&position);
    };
    for (Attach &attach : m_attach) {
        hold(attach.from);
        hold(attach.to);
    }
    for (Group &group : m_groups)
        hold(group.resultStart);
    hold(m_markFrom);
    hold(m_markEnd);
}

void Collector::unpin()
{
    for (size_t i = 0; i < m_pins.size(); ++i)
        *m_pinned[i] = m_pins[i].position();
    m_pins.clear();
    m_pinned.clear();
    m_pinning = false;
}

void Collector::finish()
{
    QTextDocument *document = m_cursor.document();
    if (!document)
        return;
    const int end = flushedPosition();
    if (!m_pending.isEmpty()) {
        // Nothing followed: the last character read holds them. After a
        // table that is the last one of its last cell, not the table's end
        // (which is never written, and the groups with it).
        constexpr QChar frameStart(0xfdd0), frameEnd(0xfdd1); // Qt's frame marks
        int last = end - 1;
        bool leftTable = false;
        while (last > m_start && (document->characterAt(last) == QChar::ParagraphSeparator ||
                                  document->characterAt(last) == frameEnd)) {
            leftTable = leftTable || document->characterAt(last) == frameEnd;
            --last;
        }
        const QChar held = document->characterAt(last);
        if (!leftTable || held == frameStart || held == frameEnd ||
            held == QChar::ParagraphSeparator)
            last = end - 1;
        const QChar holder = document->characterAt(last);
        const QTextBlock block = document->findBlock(end);
        if (end > m_start &&
            (holder == QChar::ParagraphSeparator || holder == frameStart || holder == frameEnd) &&
            block.isValid() && block.position() == end && block.length() == 1 &&
            !m_cursor.currentTable()) {
            // No character at all in the last paragraph (hidden text alone,
            // say): the paragraph holds them, before its mark. A paragraph
            // end or a table's edge holds nothing a save writes.
            m_attach.push_back({end, end, keptMarkProperty, m_pending});
        } else if (end > m_start) {
            m_attach.push_back({last, last + 1, keptAfterProperty, m_pending});
        } else {
            m_preamble.append(m_pending);
        }
        m_pending.clear();
    }
    // Fields inside fields: the outer ones first, so that the inner ones keep
    // their own instruction.
    // The fields go first (their ranges set the hash key, which the single
    // characters' groups then combine with theirs).
    const auto others =
        std::stable_partition(m_attach.begin(), m_attach.end(),
                              [](const Attach &a) { return a.property == keptFieldProperty; });
    std::reverse(m_attach.begin(), others);
    QTextCursor cursor(document);
    for (Attach &attach : m_attach) {
        if (attach.property == keptMarkProperty) {
            const QTextBlock block = document->findBlock(attach.from);
            if (attach.from < m_start || attach.from > end || !block.isValid())
                continue;
            QTextBlockFormat format;
            format.setProperty(keptMarkProperty,
                               block.blockFormat().property(keptMarkProperty).toByteArray() +
                                   attach.raw);
            QTextCursor(block).mergeBlockFormat(format);
            continue;
        }
        if (attach.property == keptBeforeProperty && attach.from >= end && end > m_start) {
            // The character they waited for never came.
            attach.from = end - 1;
            attach.to = end;
            attach.property = keptAfterProperty;
        }
        if (attach.from < m_start || attach.to > end || attach.from >= attach.to)
            continue;
        cursor.setPosition(attach.from);
        cursor.setPosition(attach.to, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        if (attach.property == footnoteMarkProperty) {
            format.setProperty(attach.property, QString::fromUtf8(attach.raw));
        } else if (attach.property == keptFieldProperty) {
            format.setProperty(attach.property, attach.raw);
            format.setProperty(keptHashKeyProperty, int(qHash(attach.raw)));
        } else {
            // Several groups on one character are written one after another.
            QTextCursor at(document);
            at.setPosition(attach.to);
            const QTextCharFormat held = at.charFormat();
            const QByteArray raw = held.property(attach.property).toByteArray() + attach.raw;
            // A character whose neighbour holds the same groups would join
            // its run, and a run's groups are written once: the neighbour
            // takes them twice instead, so that none is lost.
            if (attach.from > m_start) {
                QTextCursor before(document);
                before.setPosition(attach.from);
                const QTextCharFormat previous = before.charFormat();
                if (previous.property(attach.property).toByteArray() == raw) {
                    const QByteArray twice = raw + attach.raw;
                    QTextCharFormat moved;
                    moved.setProperty(attach.property, twice);
                    moved.setProperty(keptHashKeyProperty,
                                      previous.intProperty(keptHashKeyProperty) ^
                                          int(qHash(raw, attach.property)) ^
                                          int(qHash(twice, attach.property)));
                    before.setPosition(attach.from - 1, QTextCursor::KeepAnchor);
                    before.mergeCharFormat(moved);
                    continue;
                }
            }
            format.setProperty(attach.property, raw);
            format.setProperty(keptHashKeyProperty, held.intProperty(keptHashKeyProperty) ^
                                                        int(qHash(raw, attach.property)));
        }
        cursor.mergeCharFormat(format);
    }
    // Inserted into a document of its own, another file's headers and page
    // do not become this one's.
    if (!m_kept.fonts.isEmpty() || !m_kept.colors.isEmpty())
        m_kept.storeOn(*document);
    // A whole file's groups, held like the preamble: emptying the document
    // makes it a new one.
    if (m_whole)
        setDocumentGroups(*document, {m_preamble, document->property(tablesProperty),
                                      fontTableValue(m_tables), true});
}

Renumberer::Renumberer(const QTextDocument &document, std::function<int(const QString &)> font,
                       std::function<int(QRgb)> color)
    : m_document(document), m_tables(KeptTables::of(document)), m_font(std::move(font)),
      m_color(std::move(color))
{
}

QByteArray Renumberer::operator()(const QByteArray &raw)
{
    return renumber(
        raw,
        [this](int number) {
            const QString name =
                number < m_tables.fonts.size() ? m_tables.fonts[number].name : QString();
            return m_font(name);
        },
        [this](int number) {
            if (number <= 0 || number > m_tables.colors.size())
                return 0;
            const QColor color = m_tables.colors[number - 1];
            return color.isValid() ? m_color(color.rgb()) : 0;
        });
}

QByteArray Renumberer::preamble()
{
    if (!preambleHolder(m_document))
        return {};
    const QByteArray raw = m_document.property(preambleProperty).toByteArray();
    return raw.isEmpty() ? raw : (*this)(raw);
}

} // namespace Inkwell::Rtf::Kept
