#include "controls/richtextbox.h"

#include "controls/pictureobject.h"
#include "core/documentimages.h"
#include "core/documentshape.h"
#include "core/documenttext.h"
#include "core/textbaseline.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPagedPaintDevice>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextDocumentWriter>
#include <QTextEdit>
#include <QTextList>
#include <QTextTable>

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

// One of the two views. Whatever either is sent that the box handles alike
// (the window's keys, pictures and files from outside, Ctrl+wheel) goes to
// the box; the rest is the view's own.
template <class Base> class EditorView : public Base {
public:
    explicit EditorView(RichTextBox &box) : Base(&box), m_box(box) {}

protected:
    bool event(QEvent *event) override
    {
        if (m_box.viewEvent(event))
            return true;
        return Base::event(event);
    }
    bool canInsertFromMimeData(const QMimeData *source) const override
    {
        return source->hasImage() || Base::canInsertFromMimeData(source);
    }
    void insertFromMimeData(const QMimeData *source) override
    {
        if (!m_box.viewInsertsMime(source))
            Base::insertFromMimeData(source);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!m_box.viewKeyPress(event, [this](QKeyEvent *e) { Base::keyPressEvent(e); }))
            Base::keyPressEvent(event);
    }
    QMimeData *createMimeDataFromSelection() const override
    {
        if (QMimeData *data = m_box.viewMimeFromSelection())
            return data;
        return Base::createMimeDataFromSelection();
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        Base::keyReleaseEvent(event);
        emit m_box.keyReleased(event->key(), event->modifiers());
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        Base::mousePressEvent(event);
        emit m_box.mousePressed(event->button(), event->modifiers(),
                                this->mapTo(&m_box, event->position().toPoint()));
    }
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (!m_box.viewDrag(event, false))
            Base::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        if (!m_box.viewDrag(event, false))
            Base::dragMoveEvent(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        if (!m_box.viewDrag(event, true))
            Base::dropEvent(event);
    }
    void wheelEvent(QWheelEvent *event) override
    {
        if (!m_box.viewWheel(event))
            Base::wheelEvent(event);
    }

private:
    RichTextBox &m_box;
};

template <class F> decltype(auto) RichTextBox::visit(F &&f) const
{
    if (m_view == View::Rich)
        return f(*m_rich);
    return f(*m_fast);
}

namespace {

// A layout that lays out nothing, for a document no view shows.
class QuietLayout : public QAbstractTextDocumentLayout {
public:
    explicit QuietLayout(QTextDocument *document) : QAbstractTextDocumentLayout(document) {}
    void draw(QPainter *, const PaintContext &) override {}
    int hitTest(const QPointF &, Qt::HitTestAccuracy) const override { return -1; }
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return {}; }
    QRectF frameBoundingRect(QTextFrame *) const override { return {}; }
    QRectF blockBoundingRect(const QTextBlock &) const override { return {}; }

protected:
    void documentChanged(int, int, int) override {}
};

QTextDocument *plainDocument(QObject *parent)
{
    auto *document = new QTextDocument(parent);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    return document;
}

} // namespace

RichTextBox::RichTextBox(QTextDocument *document, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Text1"));
    m_document = document ? document : new QTextDocument(this);
    m_document->setDocumentLayout(new QPlainTextDocumentLayout(m_document));
    m_fastParking = plainDocument(this);
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
            [this](int from, int, int charsAdded) { checkLongBlocks(from, charsAdded); });
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
    if (m_zoomStep != 0)
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
    return visit([](auto &v) { return v.cursorRect(); });
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
// document, and only once it holds a paragraph over longLineChars
// characters: ordinary text keeps wrapping at word boundaries and its
// kerning. What this cannot remove: a paragraph is still laid out whole on
// every change, about a microsecond per character. So the fast view holds
// a long line in pieces of softPieceChars (loaded, pasted, set), which
// keeps the quadratic cost small (about 5 ms a piece) and needs no switch;
// the switch remains for the rich view and for a paragraph grown long by
// joining pieces.
void RichTextBox::updateLongLineLayout(bool on)
{
    if (on == m_longLineLayout)
        return;
    m_longLineLayout = on;
    // Each change lays the document out again: the wrap mode first, so that
    // no layout of a long line happens at word boundaries.
    setWordWrapModeOfViews();
    QFont font = document()->defaultFont();
    font.setStyleStrategy(on ? QFont::PreferNoShaping : QFont::PreferDefault);
    font.setKerning(!on);
    document()->setDefaultFont(font);
}

void RichTextBox::checkLongBlocks(int from, int charsAdded)
{
    if (m_longLineLayout || m_detached || charsAdded <= 0)
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
    return softBreaks().toText(textCursor().selectionStart());
}

void RichTextBox::setSelStart(int position)
{
    const SoftBreaks breaks = softBreaks();
    QTextCursor cursor = textCursor();
    const int end = breaks.toText(documentEnd());
    cursor.setPosition(breaks.toDocument(std::clamp(position, 0, end)));
    setTextCursor(cursor);
}

int RichTextBox::SelLength() const
{
    const SoftBreaks breaks = softBreaks();
    const QTextCursor cursor = textCursor();
    return breaks.toText(cursor.selectionEnd()) - breaks.toText(cursor.selectionStart());
}

void RichTextBox::setSelLength(int length)
{
    const SoftBreaks breaks = softBreaks();
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int textStart = breaks.toText(start);
    const int end = breaks.toText(documentEnd());
    cursor.setPosition(start);
    cursor.setPosition(breaks.toDocument(std::clamp(textStart + std::max(length, 0), 0, end)),
                       QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QString RichTextBox::SelText() const
{
    const QTextCursor cursor = textCursor();
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    const SoftBreaks breaks = softBreaks();
    return breaks.isEmpty() ? text : breaks.removeFrom(std::move(text), cursor.selectionStart());
}

void RichTextBox::setSelText(const QString &text)
{
    QTextCursor cursor = textCursor();
    if (m_view == View::Fast)
        insertLines(cursor, normalisedBreaks(text));
    else
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
    const SoftBreaks breaks = softBreaks();
    const int docEnd = breaks.toText(documentEnd());
    int from = 0;
    int to = docEnd;
    if (!start && !end) {
        if (cursor.hasSelection()) {
            from = breaks.toText(cursor.selectionStart());
            to = breaks.toText(cursor.selectionEnd());
        }
    } else {
        from = start ? *start : breaks.toText(cursor.position());
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

bool RichTextBox::viewEvent(QEvent *event)
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
    return false;
}

bool RichTextBox::viewInsertsMime(const QMimeData *source)
{
    // Text comes in plain (it takes the format at the caret, as the paste
    // command's does); a picture from another program comes in as a picture.
    if (source->hasText() || !source->hasImage())
        return false;
    insertPicture(qvariant_cast<QImage>(source->imageData()));
    ensureCursorVisible();
    return true;
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

bool RichTextBox::viewWheel(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    // One notch is 120; touchpads send parts of a notch.
    m_wheelRemainder += event->angleDelta().y();
    const int steps = m_wheelRemainder / 120;
    m_wheelRemainder -= steps * 120;
    zoomBy(steps);
    event->accept();
    return true;
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

bool RichTextBox::viewDrag(QDropEvent *event, bool drop)
{
    // A file goes to the window whole, not to a place in the text: no caret
    // follows the mouse, and the window opens it.
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return false;
    event->acceptProposedAction();
    if (drop)
        emit fileDropped(path);
    return true;
}

void RichTextBox::SetFocus()
{
    activeView()->setFocus(Qt::OtherFocusReason);
}

RichTextBox::CaretPosition RichTextBox::caretPosition() const
{
    const int position = textCursor().selectionEnd();
    QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return {1, 1};
    const SoftBreaks breaks = softBreaks();
    if (breaks.isEmpty())
        return {block.blockNumber() + 1, position - block.position() + 1};
    // A line held in pieces is one line: count from its first piece.
    while (continuesLine(block))
        block = block.previous();
    const auto &starts = breaks.starts();
    const int piecesBefore =
        int(std::upper_bound(starts.begin(), starts.end(), block.position()) - starts.begin());
    return {block.blockNumber() - piecesBefore + 1,
            breaks.toText(position) - breaks.toText(block.position()) + 1};
}

bool RichTextBox::viewKeyPress(QKeyEvent *event, const std::function<void(QKeyEvent *)> &base)
{
    if (!mayHaveSoftBreaks(*m_document) || isReadOnly())
        return false;
    QTextCursor cursor = textCursor();
    const QTextBlock block = cursor.block();
    const bool atPieceStart = cursor.atBlockStart() && continuesLine(block);
    const bool atPieceEnd = cursor.atBlockEnd() && continuesLine(block.next());
    if (event == QKeySequence::InsertParagraphSeparator) {
        if (m_view != View::Fast)
            return false;
        // A line break typed in a piece is a real one (Qt would give the new
        // paragraph the piece's format).
        insertLines(cursor, QStringLiteral("\n"));
        setTextCursor(cursor);
        ensureCursorVisible();
        return true;
    }
    // As the views take it: Backspace, with Shift or without.
    const bool backspace = event->key() == Qt::Key_Backspace &&
                           !(event->modifiers() & ~Qt::ShiftModifier);
    if (!cursor.hasSelection() && backspace) {
        if (!atPieceStart)
            return false;
        // The character before the break goes, not the break, which is none.
        while (cursor.atBlockStart() && continuesLine(cursor.block()))
            cursor.movePosition(QTextCursor::PreviousCharacter);
        cursor.deletePreviousChar();
        setTextCursor(cursor);
        return true;
    }
    if (!cursor.hasSelection() && event == QKeySequence::Delete) {
        if (!atPieceEnd)
            return false;
        while (cursor.atBlockEnd() && continuesLine(cursor.block().next()))
            cursor.movePosition(QTextCursor::NextCharacter);
        cursor.deleteChar();
        setTextCursor(cursor);
        return true;
    }
    const bool left = event == QKeySequence::MoveToPreviousChar ||
                      event == QKeySequence::SelectPreviousChar;
    const bool right =
        event == QKeySequence::MoveToNextChar || event == QKeySequence::SelectNextChar;
    if (!left && !right)
        return false;
    // Both sides of a break are one place in the text: one key press must
    // not stop at both.
    const SoftBreaks breaks = softBreaks();
    const int before = breaks.toText(textCursor().position());
    base(event);
    for (int i = 0; i < 2 && breaks.toText(textCursor().position()) == before; ++i) {
        const int was = textCursor().position();
        base(event);
        if (textCursor().position() == was)
            break;
    }
    return true;
}

QMimeData *RichTextBox::viewMimeFromSelection() const
{
    if (m_view == View::Rich) {
        const QTextCursor cursor = textCursor();
        if (selectionHasSingleBorders(cursor)) {
            // Other programs read a bordered table's single lines from
            // collapsed borders; Qt's own HTML and ODF are made from a copy
            // that has them.
            const QTextDocumentFragment selection = cursor.selection();
            QTextDocument copy;
            QTextCursor(&copy).insertFragment(selection);
            collapseSingleBorders(copy);
            auto *data = new QMimeData;
            data->setHtml(copy.toHtml());
            QBuffer odf;
            odf.open(QIODevice::WriteOnly);
            QTextDocumentWriter writer(&odf, "ODF");
            if (writer.write(&copy))
                data->setData(QStringLiteral("application/vnd.oasis.opendocument.text"),
                              odf.data());
            data->setText(selection.toPlainText());
            return data;
        }
    }
    // The break of a line held in pieces goes nowhere outside.
    if (!mayHaveSoftBreaks(*m_document))
        return nullptr;
    auto *data = new QMimeData;
    data->setText(SelText());
    return data;
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

} // namespace Inkwell
