// The reader's pass over the tokens and the handlers that take more than a
// line. Destinations whose text is not document text are still tokenized, so
// that their \bin data and braces are skipped correctly.
#include "rtf/rtfreader.h"

#include "core/documenttext.h"
#include "core/tablegaps.h"
#include "platform/codepage.h"
#include "rtf/rtfreaderimpl.h"
#include "rtf/shownrowheights.h"
#include "rtf/showntextboxes.h"

#include <QColor>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <bit>
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

} // namespace Inkwell::Rtf

namespace Inkwell::Rtf::Reading {

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
    // A last paragraph with no character holds its hidden text and kept
    // groups as one ended by \par does: a save ends it so.
    const bool outside = m_state.para.depth() == 0;
    QByteArray hidden =
        !outside || m_runs.paragraphHasContent() || m_hidden.empty() ? QByteArray() : takeHidden();
    flushHidden();
    settleLabel();
    // (After a \par and nothing else no paragraph was begun: the groups go
    // with the last character.)
    const bool bare = outside && !m_runs.paragraphHasContent() && m_runs.pendingBreaks() == 0 &&
                      !m_cursor.currentTable();
    if (!bare && !hidden.isEmpty())
        m_kept.hiddenText(std::exchange(hidden, {}));
    ParaProps last = m_haveLastPara ? m_lastPara : m_state.para;
    last.pageBreakBefore = last.pageBreakBefore || m_pageBreakHere;
    last.section = m_sectionHere;
    last.sectionNumber = m_sections;
    m_structure.finish(last);
    if (bare)
        m_kept.paragraphMark(hidden);
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
    m_state.fontPart = false;
    m_state.ownsList = m_state.ownsOverride = m_state.ownsLevelText = false;
    m_state.ownsLabel = m_state.ownsPn = false;
}

void Reader::closeGroup()
{
    flushBytes();
    flushHidden(); // one group of hidden text per group read
    m_skipChars = 0;
    if (m_state.dest == Dest::FontTable) {
        if (m_state.fontPart)
            m_fontTable.endPart();
        else if (m_fontTable.groupEnd(m_state.fontEntry, documentCodePage()))
            m_runs.tablesChanged();
    }
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
    m_fontTable.begin();
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
        if (inLists()) {
            const auto font = m_tables.fonts.find(number);
            m_listTable.font(font != m_tables.fonts.end() ? font->second.name : QString());
        }
        return;
    }
    if (m_fontTable.entry(number, documentCodePage()))
        m_runs.tablesChanged();
    m_state.fontEntry = true;
}

void Reader::unicode(int param)
{
    const auto unit = static_cast<char16_t>(static_cast<std::uint16_t>(param));
    if (inBody() || m_state.dest == Dest::Label)
        appendChar(unit);
    else if (m_state.dest == Dest::FontTable)
        m_fontTable.unit(unit, documentCodePage());
    else if (m_state.dest == Dest::LevelText)
        m_listTable.levelTextUnit(unit);
    m_skipChars = m_state.uc;
}

void Reader::ansiCodePage(int codePage)
{
    if (codePage > 0 && codePage < 65536 && CodePage::isSupported(codePage))
        m_ansiCodePage = codePage;
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
    if (props().hidden) {
        // A hidden mark is hidden text and numbers no footnote: the marks
        // shown keep the numbers they have when the saved file is read.
        for (QChar c : QString::number(m_footnotes + 1))
            appendChar(c.unicode());
        return;
    }
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
        if (inBody() && m_skipChars == 0 && m_bytes.empty() && c >= 0x20 && c < 0x80 &&
            !m_state.props.hidden) {
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
        if (m_fontTable.byte(byte, documentCodePage()))
            m_runs.tablesChanged();
        break;
    case Dest::ColorTable:
        if (byte == ';')
            finishColorEntry();
        break;
    case Dest::Pict:
        m_pict.addHexDigit(byte);
        break;
    case Dest::LevelText:
        if (byte != ';')
            m_listTable.levelTextUnit(byte);
        break;
    case Dest::PnText:
        m_pn.text(m_state.pnAfter, byte);
        break;
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
        m_fontTable.hexByte(byte);
        break;
    case Dest::LevelText:
        m_listTable.levelTextUnit(byte);
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
    if (props().hidden) {
        for (char16_t unit : decoded)
            if ((unit >= 0x20 || unit == u'\t') && m_hidden.size() < 65536)
                m_hidden.push_back(unit);
        return;
    }
    beginContent();
    for (char16_t unit : decoded)
        if (unit >= 0x20 || unit == u'\t')
            m_runs.add(unit, props());
}

void Reader::flushHidden()
{
    if (m_hidden.empty())
        return;
    m_kept.hiddenText(takeHidden());
}

QByteArray Reader::takeHidden()
{
    QByteArray raw = "{\\v\\uc1 ";
    for (char16_t unit : m_hidden) {
        if (unit == u'\t') {
            raw.append("\\tab ");
        } else if (unit == u'\\' || unit == u'{' || unit == u'}') {
            raw.append('\\');
            raw.append(char(unit));
        } else if (unit >= 0x20 && unit < 0x7F) {
            raw.append(char(unit));
        } else {
            raw.append("\\u" + QByteArray::number(unit > 32767 ? int(unit) - 65536 : int(unit)) +
                       '?');
        }
    }
    raw.append('}');
    m_hidden.clear();
    return raw;
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
    if (props().hidden) {
        if (m_hidden.size() < 65536)
            m_hidden.push_back(c);
        return;
    }
    beginContent();
    m_runs.add(c, props());
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
    flushHidden();
    if (m_pageBreak) {
        m_pageBreak = false;
        m_pageBreakHere = true;
    }
    if (std::optional<QByteArray> section = m_kept.takeSection()) {
        m_sectionHere = std::move(*section);
        ++m_sections;
    }
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
    // Hidden text and kept groups in a paragraph with no character stay in
    // it, held by its mark: none follows them there. (In a table they go
    // with the next character: a cell's paragraph ends in several ways.)
    const bool outside = m_state.para.depth() == 0;
    const QByteArray hidden =
        !outside || m_runs.paragraphHasContent() || m_hidden.empty() ? QByteArray() : takeHidden();
    flushHidden();
    settleLabel();
    takeSection();
    // An empty line is as high as its mark's font: the window lays it out in
    // the block's character format, and the paragraph keeps it to be written.
    const bool empty = !m_runs.paragraphHasContent();
    if (!empty && !hidden.isEmpty())
        m_kept.hiddenText(hidden); // a label came first: with the next character
    if (empty) {
        m_structure.content(m_state.para);
        m_runs.emptyParagraph(props());
    }
    if (empty || m_pageBreakHere || !m_sectionHere.isEmpty()) {
        ParaProps para = m_state.para;
        if (empty) {
            para.markFont = props().font;
            para.markHalfPoints = props().halfPoints;
        }
        para.pageBreakBefore = para.pageBreakBefore || m_pageBreakHere;
        para.section = std::exchange(m_sectionHere, {});
        para.sectionNumber = m_sections;
        m_pageBreakHere = false;
        m_structure.paragraphEnd(para);
        if (empty && outside)
            m_kept.paragraphMark(hidden);
        m_kept.paragraphStart();
        return;
    }
    m_structure.paragraphEnd(m_state.para);
    m_kept.paragraphStart();
}

// A section break still waiting when a paragraph ends without content:
// the empty paragraph begins the section, and its page.
void Reader::takeSection()
{
    std::optional<QByteArray> section = m_kept.takeSection();
    if (!section)
        return;
    m_sectionHere = std::move(*section);
    ++m_sections;
    if (m_pageBreak) {
        m_pageBreak = false;
        m_pageBreakHere = true;
    }
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
    m_rowDefRead[size_t(m_rowDefLevel)] = true;
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

// The side of the next cell the last border word named, if one.
BorderLine *Reader::cellLine()
{
    if (m_borderOf != BorderOf::Cell || m_borderSide == 0 || m_borderSide > RightSide)
        return nullptr;
    return &rowDef().next.lines[size_t(std::countr_zero(unsigned(m_borderSide)))];
}

void Reader::paragraphStyle(int number)
{
    if (!inBody())
        return;
    readStyles();
    const auto found = m_styles.find(number);
    if (found == m_styles.end() || found->second.tableStyle)
        return;
    para().style = number;
    takeFromStyle(found->second);
}

void Reader::readStyles()
{
    // The style sheet comes before the text; a file may still put other
    // kept groups between. Each stretch of them is searched once.
    const QByteArrayView kept = m_kept.preamble();
    if (!m_stylesRead && kept.size() > m_stylesSearched) {
        const qsizetype from = std::max<qsizetype>(m_stylesSearched - 12, 0);
        if (kept.sliced(from).indexOf(QByteArrayView("{\\stylesheet")) >= 0) {
            m_styles = paragraphStyles(kept);
            m_stylesRead = true;
        }
        m_stylesSearched = kept.size();
    }
}

void Reader::takeFromStyle(const ParagraphStyle &style)
{
    ParaProps &props = para();
    if (!(props.stated & StyledAlignment))
        props.alignment = style.alignment.value_or(Qt::Alignment());
    if (!(props.stated & StyledLine)) {
        props.lineSpacing = style.lineStated ? style.lineSpacing : 0;
        props.lineMultiple = style.lineStated && style.lineMultiple;
    }
    if (!(props.stated & StyledContextual))
        props.contextualSpace = style.contextualSpace;
}

void Reader::tableStyled(int number)
{
    if (!inBody() || para().style != 0)
        return;
    readStyles();
    const auto found = m_styles.find(number);
    takeFromStyle(found != m_styles.end() && found->second.tableStyle ? found->second
                                                                      : ParagraphStyle());
}

void Reader::borderStyle(bool drawn, LineStyle style)
{
    changeLines([&](BorderLine &line) {
        if (drawn)
            line.style = style;
        else
            line = BorderLine();
    });
    std::uint8_t *sides = m_borderOf == BorderOf::Cell        ? &rowDef().next.sides
                          : m_borderOf == BorderOf::Row       ? &rowDef().sides
                          : m_borderOf == BorderOf::Paragraph ? &para().borderSides
                                                              : nullptr;
    if (!sides)
        return;
    if (drawn)
        *sides |= m_borderSide;
    else
        *sides &= std::uint8_t(~m_borderSide);
    if (m_borderOf == BorderOf::Cell) {
        std::uint8_t &none = rowDef().next.noneSides;
        none = drawn ? std::uint8_t(none & ~m_borderSide) : std::uint8_t(none | m_borderSide);
    }
}

// A {\listtext} or {\pntext} group: the label an older reader shows.
void Reader::label()
{
    if (!inBody()) {
        m_state.dest = Dest::Skip;
        return;
    }
    flushBytes();
    m_state.dest = Dest::Label;
    m_state.ownsLabel = true;
    m_label.clear();
    m_haveLabel = false;
}

void Reader::oldNumberingGroup()
{
    if (!inBody()) {
        m_state.dest = Dest::Skip;
        return;
    }
    m_state.dest = Dest::PnDef;
    m_state.ownsPn = true;
    m_pn.begin();
}

void Reader::closeStructureGroup(const State &closed)
{
    if (closed.ownsLevelText)
        m_listTable.endLevelText();
    if (closed.ownsList)
        m_listTable.endList();
    if (closed.ownsOverride)
        m_listTable.endOverride();
    if (closed.ownsLabel) {
        m_haveLabel = true;
        m_labelProps = closed.props;
    }
    if (closed.ownsPn) // the group's numbering belongs to the paragraph around it
        para().numbering = m_pn.finish();
}

} // namespace Inkwell::Rtf::Reading

namespace Inkwell::Rtf {

ReadResult read(QByteArrayView rtf, QTextCursor &cursor, int defaultCodePage, qint64 pictureBudget)
{
    if (!looksLikeRtf(rtf))
        return {false, QStringLiteral("不是 RTF 文档"), {}};
    if (cursor.isNull() || !cursor.document())
        return {false, QStringLiteral("无法插入 RTF 文档"), {}};
    cursor.beginEditBlock();
    if (cursor.hasSelection())
        cursor.removeSelectedText();
    const int from = cursor.position();
    Reading::Reader reader(
        rtf, cursor, defaultCodePage > 0 ? defaultCodePage : CodePage::systemAnsi(), pictureBudget);
    reader.run();
    cursor.endEditBlock();
    // Qt places the new tables' frames when an edit block ends: the spacing
    // that depends on them is set after, in the same step of the undo.
    cursor.joinPreviousEditBlock();
    showContextualSpacing(*cursor.document(), from, cursor.position());
    showEmptyParagraphsBeforeTables(*cursor.document(), from, cursor.position());
    settleTableGaps(*cursor.document(), from, cursor.position());
    handListLabelsToView(*cursor.document(), from, cursor.position());
    showTextBoxes(*cursor.document(), from, cursor.position(), reader.documentCodePage());
    cursor.endEditBlock();
    // Measured once the spacing above is laid out.
    showRowHeights(cursor, from, cursor.position());
    return {true, {}, reader.pictureUse(), reader.keptDropped()};
}

} // namespace Inkwell::Rtf
