#include "controls/richtextbox.h"

#include "controls/pictureobject.h"
#include "core/documenttext.h"
#include "core/textbaseline.h"
#include "core/documentimages.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPagedPaintDevice>
#include <QTextBlock>
#include <QTextDocument>

namespace Inkwell {

namespace {

QString normalisedBreaks(QString text)
{
    normaliseBreaks(text);
    return text;
}

QColor fromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

// The length of the last line of `text`, given that the line it continues
// already held `carried` characters; the longest line seen goes to `longest`.
qsizetype lineLengths(QStringView text, qsizetype carried, qsizetype *longest)
{
    qsizetype start = 0;
    for (qsizetype brk = text.indexOf(u'\n'); brk >= 0; brk = text.indexOf(u'\n', start)) {
        *longest = std::max(*longest, carried + brk - start);
        carried = 0;
        start = brk + 1;
    }
    const qsizetype tail = carried + text.size() - start;
    *longest = std::max(*longest, tail);
    return tail;
}

} // namespace

RichTextBox::RichTextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("Text1"));
    // 宋体 12 pt; on systems without it fontconfig's CJK serif stands in.
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(12);
    font.setWeight(QFont::Normal);
    setFont(font);
    document()->setDefaultFont(font);
    PictureObject::install(document());
    m_defaultFormat = currentCharFormat();
    setTabChangesFocus(false);
    // A long line can also arrive by typing or pasting. contentsChange comes
    // before the layout hears of the change, so the switch is in place when
    // the long block is laid out.
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int from, int, int charsAdded) { checkLongBlocks(from, charsAdded); });
}

// Qt lays out a paragraph in one piece, all of its lines, whenever it
// changes. With the default wrap mode (at word boundaries, else anywhere) a
// line without break points (hex digits, base64, minified JSON, a log) costs
// time quadratic in its length: every screen line looks ahead to the next
// break point, at the far end of the paragraph. Measured here: 200,000
// characters of "x" took 13 s to show, 20 MB never. Wrapping anywhere makes
// the cost linear, and turning off shaping for text that needs none (Latin,
// digits, CJK) halves it again (200,000 characters: 0.7 s to show, 0.3 s per
// keystroke). The plain-text layout takes its wrap mode and font from the
// document for every paragraph alike, so the switch is for the whole
// document, and only once it holds a line over longLineChars characters:
// ordinary text keeps wrapping at word boundaries and its kerning. Nothing is
// inserted into the text; the lines on screen are the layout's alone. What
// this cannot remove: a paragraph is still laid out whole on every change, so
// a keystroke in a line of many megabytes costs about a microsecond per
// character of that line.
void RichTextBox::updateLongLineLayout(bool on)
{
    if (on == m_longLineLayout)
        return;
    m_longLineLayout = on;
    QFont font = document()->defaultFont();
    font.setStyleStrategy(on ? QFont::PreferNoShaping : QFont::PreferDefault);
    font.setKerning(!on);
    document()->setDefaultFont(font);
    setWordWrapMode(on ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void RichTextBox::checkLongBlocks(int from, int charsAdded)
{
    if (m_longLineLayout || charsAdded <= 0)
        return;
    // Only blocks that the change touched can have become long.
    QTextBlock block = document()->findBlock(from);
    const int end = from + charsAdded;
    while (block.isValid() && block.position() <= end) {
        if (block.length() - 1 > longLineChars) {
            updateLongLineLayout(true);
            return;
        }
        block = block.next();
    }
}

QString RichTextBox::Text() const
{
    return plainTextOf(*document());
}

void RichTextBox::setText(const QString &text)
{
    const QString normalised = normalisedBreaks(text);
    // Switched on before the text goes in and off after the old text is
    // gone: a switch lays out what the document holds at that moment, and a
    // long line laid out at word boundaries would freeze the window.
    qsizetype longest = 0;
    lineLengths(normalised, 0, &longest);
    const bool longLines = longest > longLineChars;
    if (longLines)
        updateLongLineLayout(true);
    setPlainText(normalised);
    if (!longLines)
        updateLongLineLayout(false);
    setCurrentCharFormat(m_defaultFormat);
}

int RichTextBox::documentEnd() const
{
    return document()->characterCount() - 1;
}

int RichTextBox::SelStart() const
{
    return textCursor().selectionStart();
}

void RichTextBox::setSelStart(int position)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::clamp(position, 0, documentEnd()));
    setTextCursor(cursor);
}

int RichTextBox::SelLength() const
{
    const QTextCursor cursor = textCursor();
    return cursor.selectionEnd() - cursor.selectionStart();
}

void RichTextBox::setSelLength(int length)
{
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    cursor.setPosition(start);
    cursor.setPosition(std::clamp(start + std::max(length, 0), 0, documentEnd()),
                       QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QString RichTextBox::SelText() const
{
    QString text = textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void RichTextBox::setSelText(const QString &text)
{
    QTextCursor cursor = textCursor();
    cursor.insertText(normalisedBreaks(text));
    setTextCursor(cursor);
}

void RichTextBox::mergeSelectionFormat(const QTextCharFormat &format)
{
    applySelectionFormat(format);
}

void RichTextBox::setSelColor(quint32 bgr)
{
    QTextCharFormat f;
    f.setForeground(fromBgr(bgr));
    mergeSelectionFormat(f);
}

void RichTextBox::setSelFontName(const QString &family)
{
    QTextCharFormat f;
    f.setFontFamilies(QStringList{family});
    mergeSelectionFormat(f);
}

void RichTextBox::setSelFontSize(float points)
{
    if (points <= 0)
        return;
    QTextCharFormat f;
    f.setFontPointSize(points);
    mergeSelectionFormat(f);
}

void RichTextBox::setSelBold(bool on)
{
    QTextCharFormat f;
    f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    mergeSelectionFormat(f);
}

void RichTextBox::setSelItalic(bool on)
{
    QTextCharFormat f;
    f.setFontItalic(on);
    mergeSelectionFormat(f);
}

void RichTextBox::setSelUnderline(bool on)
{
    QTextCharFormat f;
    f.setFontUnderline(on);
    mergeSelectionFormat(f);
}

void RichTextBox::setSelStrikethru(bool on)
{
    QTextCharFormat f;
    f.setFontStrikeOut(on);
    mergeSelectionFormat(f);
}

int RichTextBox::Find(const QString &text, std::optional<int> start, std::optional<int> end)
{
    if (text.isEmpty())
        return -1;
    const QTextCursor cursor = textCursor();
    const int docEnd = documentEnd();
    int from = 0;
    int to = docEnd;
    if (!start && !end) {
        if (cursor.hasSelection()) {
            from = cursor.selectionStart();
            to = cursor.selectionEnd();
        }
    } else {
        from = start ? *start : cursor.position();
        to = end ? *end : docEnd;
    }
    from = std::clamp(from, 0, docEnd);
    to = std::clamp(to, from, docEnd);
    if (to - from < text.size())
        return -1;
    // Search the plain text, not the layout: a whole-document search of a big
    // file then costs one pass over memory.
    const QString plain = Text();
    const qsizetype found = QStringView(plain).mid(from, to - from).indexOf(text, 0, Qt::CaseInsensitive);
    if (found < 0)
        return -1;
    const int index = from + int(found);
    QTextCursor match = textCursor();
    match.setPosition(index);
    match.setPosition(index + int(text.size()), QTextCursor::KeepAnchor);
    setTextCursor(match);
    return index;
}

void RichTextBox::printTo(QPagedPaintDevice *device, bool selectionOnly) const
{
    const QTextCursor cursor = textCursor();
    std::unique_ptr<QTextDocument> copy(document()->clone());
    PictureObject::install(copy.get());
    if (selectionOnly && cursor.hasSelection()) {
        QTextCursor cut(copy.get());
        cut.setPosition(cursor.selectionEnd());
        cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        cut.setPosition(0);
        cut.setPosition(cursor.selectionStart(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    }
    copy->print(device);
}

void RichTextBox::insertPicture(const QImage &image, const QByteArray &encoded,
                                const QByteArray &format)
{
    if (image.isNull())
        return;
    QTextCursor cursor = textCursor();
    // Inserting the object character replaces the selection, as typing would.
    cursor.insertImage(DocumentImages::add(document(), image, encoded, format));
    setTextCursor(cursor);
}

bool RichTextBox::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Cut, copy, paste and select all are menu commands with these same
        // keys: leave the keys to the window so that the commands run. A
        // picture alone on the clipboard is the exception, since only the
        // control's own paste can take it. Without a window shortcut the key
        // still comes here as an ordinary key press.
        const auto pictureOnly = [] {
            const QClipboard *clipboard = QGuiApplication::clipboard();
            const QMimeData *data = clipboard ? clipboard->mimeData() : nullptr;
            return data && data->hasImage() && !data->hasText();
        };
        if (key->matches(QKeySequence::Cut) || key->matches(QKeySequence::Copy) ||
            key->matches(QKeySequence::SelectAll) ||
            (key->matches(QKeySequence::Paste) && !pictureOnly())) {
            event->ignore();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

bool RichTextBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasImage() || QPlainTextEdit::canInsertFromMimeData(source);
}

void RichTextBox::insertFromMimeData(const QMimeData *source)
{
    // Text comes in plain (it takes the format at the caret, as the paste
    // command's does); a picture from another program comes in as a picture.
    if (source->hasText() || !source->hasImage()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    insertPicture(qvariant_cast<QImage>(source->imageData()));
    ensureCursorVisible();
}

namespace {

// The zoom scale, from 100 % (index `unzoomed`) out and in.
constexpr qreal zoomScale[] = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25,
                               1.5,  1.75, 2.0, 2.5,  3.0,  4.0, 5.0};
constexpr int unzoomed = 7;
constexpr int zoomSteps = int(std::size(zoomScale));

} // namespace

qreal RichTextBox::zoomFactor() const
{
    return zoomScale[unzoomed + m_zoomStep];
}

void RichTextBox::zoomBy(int steps)
{
    const int step = std::clamp(m_zoomStep + steps, -unzoomed, zoomSteps - 1 - unzoomed);
    if (step == m_zoomStep)
        return;
    m_zoomStep = step;
    applyZoom();
}

void RichTextBox::resetZoom()
{
    if (m_zoomStep == 0)
        return;
    m_zoomStep = 0;
    applyZoom();
}

void RichTextBox::applyZoom()
{
    // The layout turns points into pixels by its paint device's resolution
    // (and the picture handler scales by it too), so a device that claims
    // more dots per inch than the screen enlarges every font and picture
    // alike, explicit sizes included, without touching a character format.
    // Printing lays out a copy against the printer; saving reads formats only.
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    const QTextCursor caret = textCursor();
    if (m_zoomStep == 0) {
        layout->setPaintDevice(nullptr);
    } else {
        const qreal dpiX = logicalDpiX() * zoomFactor();
        const qreal dpiY = logicalDpiY() * zoomFactor();
        m_zoomDevice = QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
        m_zoomDevice.setDotsPerMeterX(qRound(dpiX / 0.0254));
        m_zoomDevice.setDotsPerMeterY(qRound(dpiY / 0.0254));
        layout->setPaintDevice(&m_zoomDevice);
    }
    document()->markContentsDirty(0, document()->characterCount());
    setTextCursor(caret);
    ensureCursorVisible();
    viewport()->update();
}

void RichTextBox::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QPlainTextEdit::wheelEvent(event);
        return;
    }
    // One notch is 120; touchpads send parts of a notch.
    m_wheelRemainder += event->angleDelta().y();
    const int steps = m_wheelRemainder / 120;
    m_wheelRemainder -= steps * 120;
    zoomBy(steps);
    event->accept();
}

QString RichTextBox::droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

void RichTextBox::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return;
    }
    QPlainTextEdit::dragEnterEvent(event);
}

void RichTextBox::dragMoveEvent(QDragMoveEvent *event)
{
    // A file goes to the window whole, not to a place in the text: no caret
    // follows the mouse.
    if (!droppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return;
    }
    QPlainTextEdit::dragMoveEvent(event);
}

void RichTextBox::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    event->acceptProposedAction();
    emit fileDropped(path);
}

void RichTextBox::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

RichTextBox::CaretPosition RichTextBox::caretPosition() const
{
    const int position = textCursor().selectionEnd();
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return {1, 1};
    return {block.blockNumber() + 1, position - block.position() + 1};
}

void RichTextBox::keyReleaseEvent(QKeyEvent *event)
{
    QPlainTextEdit::keyReleaseEvent(event);
    emit keyReleased(event->key(), event->modifiers());
}

void RichTextBox::mousePressEvent(QMouseEvent *event)
{
    QPlainTextEdit::mousePressEvent(event);
    emit mousePressed(event->button(), event->modifiers(), event->position().toPoint());
}

namespace {

RichTextBox::SelectionFormat describe(const QTextCharFormat &format, const QFont &defaultFont)
{
    RichTextBox::SelectionFormat out;
    const QFont font = format.font().resolve(defaultFont);
    out.family = font.families().value(0, font.family());
    out.pointSize = font.pointSizeF();
    out.bold = font.weight() >= QFont::Bold;
    out.italic = font.italic();
    out.underline = font.underline();
    out.strikeOut = font.strikeOut();
    if (format.hasProperty(QTextFormat::ForegroundBrush) &&
        format.foreground().style() != Qt::NoBrush)
        out.colour = format.foreground().color();
    return out;
}

// Marks in `into` what `other` holds in another value.
void mergeInto(RichTextBox::SelectionFormat &into, const RichTextBox::SelectionFormat &other)
{
    using F = RichTextBox;
    const auto differ = [&into](int part, bool different) {
        if (different)
            into.mixed |= part;
    };
    differ(F::Family, into.family != other.family);
    differ(F::Size, into.pointSize != other.pointSize);
    differ(F::Bold, into.bold != other.bold);
    differ(F::Italic, into.italic != other.italic);
    differ(F::Underline, into.underline != other.underline);
    differ(F::StrikeOut, into.strikeOut != other.strikeOut);
    differ(F::Colour, into.colour.has_value() != other.colour.has_value() ||
                          (into.colour && into.colour->rgba() != other.colour->rgba()));
}

} // namespace

RichTextBox::SelectionFormat RichTextBox::selectionFormat() const
{
    const QFont defaultFont = document()->defaultFont();
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return describe(currentCharFormat(), defaultFont);
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    std::optional<SelectionFormat> out;
    int lastIndex = -1;
    for (QTextBlock block = document()->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || fragment.position() >= end ||
                fragment.position() + fragment.length() <= start)
                continue;
            // A big plain selection is one format over and over: look at it once.
            if (fragment.charFormatIndex() == lastIndex)
                continue;
            lastIndex = fragment.charFormatIndex();
            const SelectionFormat here = describe(fragment.charFormat(), defaultFont);
            if (!out)
                out = here;
            else
                mergeInto(*out, here);
        }
    }
    // Paragraph breaks alone: what would be typed over them.
    return out ? *out : describe(cursor.charFormat(), defaultFont);
}

void RichTextBox::applySelectionFormat(const QTextCharFormat &changes)
{
    if (changes.properties().isEmpty())
        return;
    // The control's own merge formats the selection and the caret's format
    // for typing in one go; the edit block makes that one undo step.
    QTextCursor step = textCursor();
    step.beginEditBlock();
    mergeCurrentCharFormat(changes);
    step.endEditBlock();
}

bool RichTextBox::hasFormatting() const
{
    return !CharFormats::allHave(*document(),
                                 CharFormats::keyOf(m_defaultFormat, document()->defaultFont()));
}

} // namespace Inkwell
