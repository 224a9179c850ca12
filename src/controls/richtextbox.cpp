#include "controls/richtextbox.h"

#include "controls/editorview.h"
#include "controls/pageprinter.h"
#include "controls/pictureobject.h"
#include "controls/quietlayout.h"
#include "core/documentimages.h"
#include "core/documentshape.h"
#include "core/documenttext.h"
#include "core/textqueries.h"
#include "core/tablegaps.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPagedPaintDevice>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

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

// The length of the longest line of `text`.
qsizetype longestLine(QStringView text)
{
    qsizetype longest = 0;
    qsizetype start = 0;
    for (qsizetype brk = text.indexOf(u'\n'); brk >= 0; brk = text.indexOf(u'\n', start)) {
        longest = std::max(longest, brk - start);
        start = brk + 1;
    }
    return std::max(longest, text.size() - start);
}

} // namespace

template <class F> decltype(auto) RichTextBox::visit(F &&f) const
{
    if (m_view == View::Rich)
        return f(*m_rich);
    return f(*m_fast);
}

RichTextBox::RichTextBox(QTextDocument *document, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Text1"));
    m_document = document ? document : new QTextDocument(this);
    m_document->setDocumentLayout(new QPlainTextDocumentLayout(m_document));
    m_fastParking = new QTextDocument(this);
    m_fastParking->setDocumentLayout(new QPlainTextDocumentLayout(m_fastParking));
    m_richParking = new QTextDocument(this);
    m_fast = new EditorView<QPlainTextEdit>(*this);
    m_rich = new EditorView<QTextEdit>(*this);
    m_fast->setObjectName(QStringLiteral("fastView"));
    m_rich->setObjectName(QStringLiteral("richView"));
    // Text from outside comes in plain in both views, taking the format at
    // the caret, as the paste command's does.
    m_rich->setAcceptRichText(false);
    m_fast->setTabChangesFocus(false);
    m_rich->setTabChangesFocus(false);
    m_fast->setDocument(m_document);
    m_rich->setDocument(m_richParking);
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_fast);
    m_stack->addWidget(m_rich);
    m_stack->setCurrentWidget(m_fast);
    setFocusProxy(m_fast);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);

    // 宋体 12 pt; on systems without it fontconfig's CJK serif stands in.
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(12);
    font.setWeight(QFont::Normal);
    setFont(font);
    m_fast->setFont(font);
    m_rich->setFont(font);
    m_document->setDefaultFont(font);
    PictureObject::install(m_document);
    m_defaultFormat = m_fast->currentCharFormat();
    // A long line can also arrive by typing or pasting. contentsChange comes
    // before the layout hears of the change, so the switch is in place when
    // the long block is laid out.
    connect(m_document, &QTextDocument::contentsChange, this,
            [this](int from, int, int charsAdded) {
                checkLongBlocks(from, charsAdded);
                noteTableGapChange(from, charsAdded);
            });
}

RichTextBox::~RichTextBox() = default;

void RichTextBox::detach()
{
    if (m_parked)
        return;
    const QTextCursor caret = textCursor();
    m_parked = Detached{caret.anchor(), caret.position(), activeView()->hasFocus(),
                        m_document->defaultFont()};
    // A view lets go of the document before its layout is replaced: each
    // view listens to its own kind of layout.
    if (m_view == View::Fast)
        m_fast->setDocument(m_fastParking);
    else
        m_rich->setDocument(m_richParking);
    // Qt's layouts lay out a changed paragraph they have laid out before at
    // once (the plain one also the paragraph a cursor selects in), and the
    // rich one every change as it comes: a paragraph of megabytes read into
    // the document would be laid out whole. A layout that does nothing holds
    // the document meanwhile; replacing a layout also drops what the old one
    // laid out. The switch to the long-line layout waits too.
    m_detached = true;
    m_document->setDocumentLayout(new QuietLayout(m_document));
}

void RichTextBox::attach(View view)
{
    if (!m_parked)
        return;
    const Detached parked = *std::exchange(m_parked, std::nullopt);
    m_detached = false;
    updateLongLineLayout(hasLongParagraph(*m_document));
    // The document deletes the old layout; the rich one it makes itself on
    // first use.
    m_document->setDocumentLayout(view == View::Fast ? new QPlainTextDocumentLayout(m_document)
                                                     : nullptr);
    m_view = view;
    if (view == View::Fast)
        m_fast->setDocument(m_document);
    else
        m_rich->setDocument(m_document);
    m_document->setDefaultFont(parked.font);
    PictureObject::install(m_document);
    m_stack->setCurrentWidget(activeView());
    setFocusProxy(activeView());
    setWordWrapModeOfViews();
    if (m_zoom.step() != 0)
        applyZoom();
    QTextCursor restored(m_document);
    restored.setPosition(std::clamp(parked.anchor, 0, documentEnd()));
    restored.setPosition(std::clamp(parked.position, 0, documentEnd()), QTextCursor::KeepAnchor);
    setTextCursor(restored);
    if (parked.focused)
        activeView()->setFocus(Qt::OtherFocusReason);
}

void RichTextBox::setView(View view)
{
    if (view == m_view)
        return;
    detach();
    attach(view);
}

void RichTextBox::documentEmptied()
{
    updateLongLineLayout(false);
    setCurrentCharFormat(m_defaultFormat);
}

QWidget *RichTextBox::activeView() const
{
    if (m_view == View::Rich)
        return m_rich;
    return m_fast;
}

QTextCursor RichTextBox::textCursor() const
{
    return visit([](auto &v) { return v.textCursor(); });
}

void RichTextBox::setTextCursor(const QTextCursor &cursor)
{
    visit([&cursor](auto &v) { v.setTextCursor(cursor); });
}

QTextCharFormat RichTextBox::currentCharFormat() const
{
    return visit([](auto &v) { return v.currentCharFormat(); });
}

void RichTextBox::setCurrentCharFormat(const QTextCharFormat &format)
{
    visit([&format](auto &v) { v.setCurrentCharFormat(format); });
}

void RichTextBox::mergeCurrentCharFormat(const QTextCharFormat &format)
{
    visit([&format](auto &v) { v.mergeCurrentCharFormat(format); });
}

void RichTextBox::insertPlainText(const QString &text)
{
    if (m_view == View::Fast) {
        QTextCursor cursor = textCursor();
        insertLines(cursor, normalisedBreaks(text));
        setTextCursor(cursor);
        return;
    }
    visit([&text](auto &v) { v.insertPlainText(text); });
}

void RichTextBox::moveCursor(QTextCursor::MoveOperation operation, QTextCursor::MoveMode mode)
{
    visit([=](auto &v) { v.moveCursor(operation, mode); });
}

void RichTextBox::setReadOnly(bool readOnly)
{
    m_fast->setReadOnly(readOnly);
    m_rich->setReadOnly(readOnly);
}

bool RichTextBox::isReadOnly() const
{
    return visit([](auto &v) { return v.isReadOnly(); });
}

void RichTextBox::ensureCursorVisible()
{
    visit([](auto &v) { v.ensureCursorVisible(); });
}

QRect RichTextBox::cursorRect() const
{
    return visit([](auto &v) { return v.shownCursorRect(); });
}

QWidget *RichTextBox::viewport() const
{
    return visit([](auto &v) { return v.viewport(); });
}

QScrollBar *RichTextBox::verticalScrollBar() const
{
    return visit([](auto &v) { return v.verticalScrollBar(); });
}

QScrollBar *RichTextBox::horizontalScrollBar() const
{
    return visit([](auto &v) { return v.horizontalScrollBar(); });
}

QTextOption::WrapMode RichTextBox::wordWrapMode() const
{
    return visit([](auto &v) { return v.wordWrapMode(); });
}

void RichTextBox::setWordWrapModeOfViews()
{
    const QTextOption::WrapMode mode =
        m_longLineLayout ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
    m_fast->setWordWrapMode(mode);
    m_rich->setWordWrapMode(mode);
}

void RichTextBox::undo()
{
    visit([](auto &v) { v.undo(); });
}

void RichTextBox::redo()
{
    visit([](auto &v) { v.redo(); });
}

void RichTextBox::cut()
{
    visit([](auto &v) { v.cut(); });
}

void RichTextBox::copy()
{
    visit([](auto &v) { v.copy(); });
}

void RichTextBox::paste()
{
    visit([](auto &v) { v.paste(); });
}

void RichTextBox::selectAll()
{
    visit([](auto &v) { v.selectAll(); });
}

void RichTextBox::forwardToView(QEvent *event)
{
    // A key the view does not take comes back to its parent, the box: it
    // goes on up from here instead of round again.
    if (m_forwarding) {
        event->ignore();
        return;
    }
    m_forwarding = true;
    QCoreApplication::sendEvent(activeView(), event);
    m_forwarding = false;
}

bool RichTextBox::event(QEvent *event)
{
    // A key sent to the box itself (not to the focused view) asks the box
    // first whether it is a shortcut of the window's or the editor's own.
    if (event->type() == QEvent::ShortcutOverride) {
        forwardToView(event);
        return event->isAccepted();
    }
    return QWidget::event(event);
}

void RichTextBox::keyPressEvent(QKeyEvent *event)
{
    forwardToView(event);
}

void RichTextBox::keyReleaseEvent(QKeyEvent *event)
{
    forwardToView(event);
}

void RichTextBox::inputMethodEvent(QInputMethodEvent *event)
{
    forwardToView(event);
}

// The long-line rule: see longLineFont().
void RichTextBox::updateLongLineLayout(bool on)
{
    if (on == m_longLineLayout)
        return;
    m_longLineLayout = on;
    // Each change lays the document out again: the wrap mode first, so that
    // no layout of a long line happens at word boundaries.
    setWordWrapModeOfViews();
    document()->setDefaultFont(longLineFont(document()->defaultFont(), on));
}

void RichTextBox::checkLongBlocks(int from, int charsAdded)
{
    if (!m_longLineLayout && !m_detached && changeMadeLongParagraph(*document(), from, charsAdded))
        updateLongLineLayout(true);
}

void RichTextBox::noteTableGapChange(int from, int charsAdded)
{
    if (m_detached || m_settling || m_document->rootFrame()->childFrames().isEmpty())
        return; // a read settles what it reads; no table, no gap
    const bool waiting = m_gapFrom >= 0;
    m_gapFrom = waiting ? std::min(m_gapFrom, from) : from;
    m_gapTo = std::max(waiting ? m_gapTo : 0, from + charsAdded);
    if (!waiting)
        QTimer::singleShot(0, this, &RichTextBox::settleTableGapsOfEdit);
}

void RichTextBox::editKeepingTableGaps(const std::function<void()> &edit)
{
    const QTextCursor before = textCursor();
    if (m_view != View::Rich || m_detached ||
        !editMayMoveTableGap(*m_document, before.selectionStart(), before.selectionEnd())) {
        edit();
        return;
    }
    QTextCursor step(m_document);
    step.beginEditBlock();
    edit();
    const int caret = textCursor().position();
    settleTableGaps(*m_document, std::min(before.selectionStart(), caret),
                    std::max(before.selectionEnd(), caret));
    step.endEditBlock();
}

void RichTextBox::settleTableGapsOfEdit()
{
    const int from = std::exchange(m_gapFrom, -1);
    const int to = std::min(std::exchange(m_gapTo, -1), documentEnd());
    // An undo brings back the gap of its own step; settling while steps
    // wait to be redone would throw them away.
    if (from < 0 || m_detached || m_document->availableRedoSteps() > 0)
        return;
    const std::vector<TableGap> gaps = unsettledTableGaps(*m_document, std::min(from, to), to);
    // Part of the edit that called for it: one undo takes back both.
    QTextCursor cursor(m_document);
    bool joined = false;
    const auto join = [&] {
        if (!std::exchange(joined, true))
            cursor.joinPreviousEditBlock();
    };
    m_settling = true;
    if (!gaps.empty()) {
        join();
        applyTableGaps(gaps);
    }
    // A row that asks for a height keeps it as its content grows and
    // shrinks: measured in the rich view's layout, at its zoom.
    if (m_view == View::Rich)
        refitRowHeights(*m_document, std::min(from, to), to, m_zoom.factor(), join);
    if (joined)
        cursor.endEditBlock();
    m_settling = false;
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
    const qsizetype longest = longestLine(normalised);
    // The fast view holds a long line in pieces (see insertLines()), which
    // need no switch.
    const bool pieces = m_view == View::Fast && longest > softPieceChars;
    const bool longLines = !pieces && longest > longLineChars;
    if (longLines)
        updateLongLineLayout(true);
    forgetSoftBreaks(*m_document);
    if (pieces) {
        m_fast->setPlainText(QString());
        QTextCursor cursor(m_document);
        insertBreakingLongLines(cursor, normalised, m_defaultFormat);
        m_document->clearUndoRedoStacks();
        m_fast->moveCursor(QTextCursor::Start);
    } else {
        visit([&normalised](auto &v) { v.setPlainText(normalised); });
    }
    if (!longLines)
        updateLongLineLayout(false);
    setCurrentCharFormat(m_defaultFormat);
}

void RichTextBox::insertLines(QTextCursor &cursor, const QString &text)
{
    // One undo step; the format is the caret's, as the views' own paste
    // gives (after a picture: its format, no longer an object's).
    cursor.beginEditBlock();
    QTextCharFormat format = cursor.charFormat();
    format.clearProperty(QTextFormat::ObjectType);
    cursor.removeSelectedText();
    insertBreakingLongLines(cursor, text, format);
    cursor.endEditBlock();
}

SoftBreaks RichTextBox::softBreaks() const
{
    return SoftBreaks(*m_document);
}

int RichTextBox::documentEnd() const
{
    return document()->characterCount() - 1;
}

// Positions here are the text's (Text(), Find): a soft break is no
// character of it, so the document's positions are mapped.
int RichTextBox::SelStart() const
{
    return textSelectionStart(textCursor());
}

void RichTextBox::setSelStart(int position)
{
    QTextCursor cursor = textCursor();
    setTextPosition(cursor, position);
    setTextCursor(cursor);
}

int RichTextBox::SelLength() const
{
    return textSelectionLength(textCursor());
}

void RichTextBox::setSelLength(int length)
{
    QTextCursor cursor = textCursor();
    setTextSelectionLength(cursor, length);
    setTextCursor(cursor);
}

QString RichTextBox::SelText() const
{
    return selectedText(textCursor());
}

void RichTextBox::setSelText(const QString &text)
{
    QTextCursor cursor = textCursor();
    // The caret goes after the text inside the edit: a line after a table
    // is settled from where it went.
    editKeepingTableGaps([&] {
        if (m_view == View::Fast)
            insertLines(cursor, normalisedBreaks(text));
        else
            cursor.insertText(normalisedBreaks(text));
        setTextCursor(cursor);
    });
}

void RichTextBox::setSelColor(quint32 bgr)
{
    QTextCharFormat f;
    f.setForeground(fromBgr(bgr));
    applySelectionFormat(f);
}

void RichTextBox::setSelFontName(const QString &family)
{
    QTextCharFormat f;
    f.setFontFamilies(QStringList{family});
    applySelectionFormat(f);
}

void RichTextBox::setSelFontSize(float points)
{
    QTextCharFormat f;
    if (points > 0)
        f.setFontPointSize(points);
    applySelectionFormat(f);
}

void RichTextBox::setSelBold(bool on)
{
    QTextCharFormat f;
    f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    applySelectionFormat(f);
}

void RichTextBox::setSelItalic(bool on)
{
    QTextCharFormat f;
    f.setFontItalic(on);
    applySelectionFormat(f);
}

void RichTextBox::setSelUnderline(bool on)
{
    QTextCharFormat f;
    f.setFontUnderline(on);
    applySelectionFormat(f);
}

void RichTextBox::setSelStrikethru(bool on)
{
    QTextCharFormat f;
    f.setFontStrikeOut(on);
    applySelectionFormat(f);
}

int RichTextBox::Find(const QString &text, std::optional<int> start, std::optional<int> end)
{
    const int index = findInDocument(*m_document, text, textCursor(), start, end);
    if (index < 0)
        return -1;
    const SoftBreaks breaks = softBreaks();
    QTextCursor match = textCursor();
    match.setPosition(breaks.toDocument(index));
    match.setPosition(breaks.toDocument(index + int(text.size())), QTextCursor::KeepAnchor);
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
    printOnPages(*copy, device);
}

void RichTextBox::insertPicture(const QImage &image, const QByteArray &encoded,
                                const QByteArray &format)
{
    if (image.isNull())
        return;
    QTextCursor cursor = textCursor();
    // Inserting the object character replaces the selection, as typing would.
    editKeepingTableGaps([&] {
        cursor.insertImage(DocumentImages::add(document(), image, encoded, format));
        setTextCursor(cursor);
    });
}

qreal RichTextBox::zoomFactor() const
{
    return m_zoom.factor();
}

void RichTextBox::zoomBy(int steps)
{
    if (m_zoom.stepBy(steps))
        applyZoom();
}

void RichTextBox::zoomByWheel(int angleDelta)
{
    zoomBy(m_zoom.stepsOfWheel(angleDelta));
}

void RichTextBox::resetZoom()
{
    if (m_zoom.stepBy(-m_zoom.step()))
        applyZoom();
}

void RichTextBox::applyZoom()
{
    const QTextCursor caret = textCursor();
    m_zoom.applyTo(*document(), logicalDpiX(), logicalDpiY());
    setTextCursor(caret);
    ensureCursorVisible();
    viewport()->update();
}

void RichTextBox::SetFocus()
{
    activeView()->setFocus(Qt::OtherFocusReason);
}

RichTextBox::CaretPosition RichTextBox::caretPosition() const
{
    const LineColumn at = lineColumnAt(*m_document, textCursor().selectionEnd());
    return {at.line, at.column};
}

RichTextBox::SelectionFormat RichTextBox::selectionFormat() const
{
    return selectionFormatOf(textCursor(), currentCharFormat());
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

} // namespace Inkwell
