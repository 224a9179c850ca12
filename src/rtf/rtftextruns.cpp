#include "rtf/rtftextruns.h"

#include "core/formatproperties.h"
#include "platform/codepage.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextImageFormat>

#include <algorithm>

namespace Inkwell::Rtf {

void TextRuns::beginContent()
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

void Tables::setMark(QTextBlockFormat &format, int font, int halfPoints) const
{
    const auto found = fonts.find(font < 0 ? deff : font);
    format.setProperty(markFamilyProperty, found != fonts.end() ? found->second.name : QString());
    format.setProperty(markHalfPointsProperty, halfPoints);
}

void Tables::addColor(int red, int green, int blue)
{
    if (colors.size() >= 65536)
        return;
    if (red < 0 && green < 0 && blue < 0)
        colors.emplace_back(); // "automatic"
    else
        colors.emplace_back(std::max(red, 0), std::max(green, 0), std::max(blue, 0));
}

CharProps TextRuns::runProps(CharProps props, char16_t c)
{
    if (props.eastAsianFont >= 0 && CodePage::isCjk(c))
        props.font = props.eastAsianFont;
    props.eastAsianFont = -1;
    return props;
}

void TextRuns::add(char16_t c, const CharProps &props)
{
    const CharProps run = runProps(props, c);
    if (!(m_textProps == run))
        flushRun(run);
    m_text.append(QChar(c));
}

void TextRuns::add(QLatin1StringView text, const CharProps &props)
{
    const CharProps run = runProps(props, u'a');
    if (!(m_textProps == run))
        flushRun(run);
    m_text.append(text);
}

void TextRuns::insertImage(const QTextImageFormat &image)
{
    beginContent();
    flushRun(m_textProps);
    m_cursor.insertImage(image);
}

void TextRuns::emptyParagraph(const CharProps &props)
{
    beginContent();
    flushRun(m_textProps);
    m_cursor.setBlockCharFormat(formatFor(runProps(props, u'a')));
    m_needPar = false;
}

void TextRuns::markEmptyBlock(const CharProps &props)
{
    if (m_needPar || m_pendingBreaks != 0 || m_pendingTabs != 0 || !m_text.isEmpty() ||
        m_cursor.block().length() != 1)
        return;
    m_cursor.setBlockCharFormat(formatFor(runProps(props, u'a')));
    // Kept to be written, as for an empty paragraph ended by \par.
    QTextBlockFormat mark;
    m_tables.setMark(mark, props.font, props.halfPoints);
    m_cursor.mergeBlockFormat(mark);
}

void TextRuns::finish()
{
    if (m_pendingBreaks > 1) {
        m_pendingBreaks -= 1;
        m_pendingTabs = 0;
        beginContent();
    }
    flushRun(m_textProps);
}

void TextRuns::rowEnd()
{
    // The separators between the cells stay (empty cells too); the last
    // cell's becomes the end of the line.
    if (m_pendingTabs > 1) {
        --m_pendingTabs;
        beginContent();
    }
    paragraphBreak();
}

void TextRuns::flushRun(const CharProps &next)
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

QTextCharFormat TextRuns::formatFor(const CharProps &props)
{
    const auto cached = m_formats.find(props);
    if (cached != m_formats.end())
        return cached->second;
    QTextCharFormat format;
    const auto font = m_tables.fonts.find(props.font < 0 ? m_tables.deff : props.font);
    if (font != m_tables.fonts.end() && !font->second.name.isEmpty())
        format.setFontFamilies({font->second.name});
    format.setFontPointSize(props.halfPoints / 2.0);
    format.setFontWeight(props.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(props.italic);
    format.setFontUnderline(props.underline);
    format.setFontStrikeOut(props.strike);
    if (props.script != 0)
        format.setVerticalAlignment(props.script > 0 ? QTextCharFormat::AlignSuperScript
                                                     : QTextCharFormat::AlignSubScript);
    if (props.raise != 0) {
        // Qt moves the baseline by a share of the line's height, which is
        // about the font's size.
        format.setProperty(charRaiseProperty, int(props.raise));
        format.setBaselineOffset(100.0 * props.raise / std::max(props.halfPoints, 1));
    }
    if (props.scale != 100)
        format.setFontStretch(props.scale);
    if (props.language >= 0)
        format.setProperty(charLanguageProperty, props.language);
    if (props.eastAsianLanguage >= 0)
        format.setProperty(charEastAsianLanguageProperty, props.eastAsianLanguage);
    const std::vector<QColor> &colors = m_tables.colors;
    if (props.color >= 0 && size_t(props.color) < colors.size() &&
        colors[size_t(props.color)].isValid())
        format.setForeground(colors[size_t(props.color)]);
    if (props.highlight > 0 && size_t(props.highlight) < colors.size() &&
        colors[size_t(props.highlight)].isValid())
        format.setBackground(colors[size_t(props.highlight)]);
    // A bounded cache: the same QTextCharFormat object keeps its hash, which
    // the document needs for every insert.
    if (m_formats.size() >= 4096)
        m_formats.clear();
    m_formats.emplace(props, format);
    return format;
}

} // namespace Inkwell::Rtf
