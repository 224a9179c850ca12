// The editing control every command works on (the window's Text1). It
// shows the model's document in one of two views: a fast view
// (QPlainTextEdit: its layout costs stay flat in big documents, unlike
// QTextEdit's) for plain documents, and a rich view (QTextEdit with Qt's
// full document layout: alignment, indents, lists, tables) for rich ones. Both hold rich character formats
// and pictures; the document object stays the same when the view changes.
// The control never makes or reads bytes.
#pragma once

#include "controls/viewzoom.h"
#include "core/documentshape.h"
#include "core/selectionformat.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>
#include <QWidget>
#include <functional>
#include <optional>

class QMimeData;
class QPagedPaintDevice;
class QPlainTextEdit;
class QStackedLayout;
class QTextEdit;
class QScrollBar;

namespace Inkwell {

class SoftBreaks;

template <class Base> class EditorView;

class RichTextBox : public QWidget {
    Q_OBJECT
public:
    // Shows `document` (the model's; it must outlive the control), or a
    // document of its own when none is given.
    explicit RichTextBox(QTextDocument *document = nullptr, QWidget *parent = nullptr);
    explicit RichTextBox(QWidget *parent) : RichTextBox(nullptr, parent) {}
    ~RichTextBox() override;

    enum class View { Fast, Rich };
    View view() const { return m_view; }
    static View viewOf(DocumentKind kind)
    {
        return kind == DocumentKind::Rich ? View::Rich : View::Fast;
    }
    // Shows the document in the other view. Content, selection, undo history
    // and zoom stay; costs one layout of the document.
    void setView(View view);
    // No view shows the document from here until attach(), so that no
    // layout lays out what changes meanwhile (a paragraph of 20 MB read from
    // RTF, before it is held in pieces).
    void detach();
    // Shows the detached document again, in `view`.
    void attach(View view);
    // The document was emptied behind the control's back: what is typed
    // next has the default format, and long lines are gone.
    void documentEmptied();

    // What the views share, as QPlainTextEdit and QTextEdit spell it.
    QTextDocument *document() const { return m_document; }
    QTextCursor textCursor() const;
    void setTextCursor(const QTextCursor &cursor);
    QTextCharFormat currentCharFormat() const;
    void setCurrentCharFormat(const QTextCharFormat &format);
    void mergeCurrentCharFormat(const QTextCharFormat &format);
    QString toPlainText() const { return m_document->toPlainText(); }
    void insertPlainText(const QString &text);
    void moveCursor(QTextCursor::MoveOperation operation,
                    QTextCursor::MoveMode mode = QTextCursor::MoveAnchor);
    void setReadOnly(bool readOnly);
    bool isReadOnly() const;
    void ensureCursorVisible();
    QRect cursorRect() const;
    QWidget *viewport() const;
    QScrollBar *verticalScrollBar() const;
    QScrollBar *horizontalScrollBar() const;
    QTextOption::WrapMode wordWrapMode() const;
    // The view the user sees (a QPlainTextEdit or a QTextEdit).
    QWidget *activeView() const;

public slots:
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void selectAll();
    void clear() { setText(QString()); }

public:

    // The whole document as plain text, paragraphs separated by "\n",
    // pictures as U+FFFC. Setting replaces the content (CRLF and CR become
    // "\n") and the formatting with the default character format.
    QString Text() const;
    void setText(const QString &text);

    int SelStart() const;
    void setSelStart(int position); // empties the selection; clamped to the end
    int SelLength() const;
    void setSelLength(int length);
    QString SelText() const;
    void setSelText(const QString &text); // replaces the selection, caret after it

    // Selection formatting: applies to the selection, or at the caret to what
    // is typed next.
    void setSelColor(quint32 bgr);
    void setSelFontName(const QString &family);
    void setSelFontSize(float points);
    void setSelBold(bool on);
    void setSelItalic(bool on);
    void setSelUnderline(bool on);
    void setSelStrikethru(bool on);

    // The selection's character format as a font dialog shows it, or the
    // caret's (what is typed next) without a selection.
    using SelectionFormat = Inkwell::SelectionFormat;
    using FormatPart = SelectionFormat::Part;
    SelectionFormat selectionFormat() const;
    // Merges `changes` into the selection, or into what is typed next, as
    // one undo step.
    void applySelectionFormat(const QTextCharFormat &changes);
    // Case-insensitive search, matches may lie inside words, no wrap. With no
    // start and no end: the selection if there is one, else the whole text;
    // with an end only: from the caret to the end. A match is selected and
    // its index returned; -1 leaves the selection alone.
    int Find(const QString &text, std::optional<int> start = std::nullopt,
             std::optional<int> end = std::nullopt);

    // Prints the document with its formatting; only the selection when
    // `selectionOnly` is set and there is one.
    void printTo(QPagedPaintDevice *device, bool selectionOnly = true) const;

    void SetFocus();

    // Inserts a picture at its own size, replacing the selection, with the
    // caret after it. `encoded`/`format` are the file's bytes, kept for saving.
    void insertPicture(const QImage &image, const QByteArray &encoded = {},
                       const QByteArray &format = {});

    // Line and column (from 1) of the end of the selection, or of the caret.
    // Lines are the document's lines as separated by line breaks, not the
    // wrapped lines on screen; the column counts from the start of that line.
    struct CaretPosition {
        int line;
        int column;
    };
    CaretPosition caretPosition() const;

    // The formats a plain setText() gives the text, and a loaded text file.
    QTextCharFormat defaultCharFormat() const { return m_defaultFormat; }

    // Zoom of the view alone: the document's fonts and pictures keep their
    // sizes, so printing and saving do not see it. Steps in (+) or out (-)
    // along a fixed scale; 0 returns to 100 %.
    void zoomBy(int steps);
    void resetZoom();
    // A wheel turn with Ctrl held (120 a notch; parts of notches add up).
    void zoomByWheel(int angleDelta);
    qreal zoomFactor() const;

    // A line longer than longLineChars switches the whole document to the
    // long-line layout (see updateLongLineLayout()).
    bool hasLongLineLayout() const { return m_longLineLayout; }

    // Runs an edit of the rich view's (a key, a paste, a character from the
    // input method) in one undo step with what it changes of the empty line
    // after a table (core/tablegaps.h), when it may change any.
    void editKeepingTableGaps(const std::function<void()> &edit);

signals:
    // A file was dropped on the editor: the window opens it instead of
    // inserting its address.
    void fileDropped(const QString &path);
    void keyReleased(int key, Qt::KeyboardModifiers modifiers);
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    // Keys and the input method sent to the box go to the view.
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    template <class F> decltype(auto) visit(F &&f) const;
    void forwardToView(QEvent *event);
    struct Detached {
        int anchor = 0;
        int position = 0;
        bool focused = false;
        QFont font;
    };
    std::optional<Detached> m_parked; // see detach()
    bool m_forwarding = false;

    int documentEnd() const;
    SoftBreaks softBreaks() const;
    // Inserts text with "\n" line ends at the cursor as one undo step, a
    // long line in pieces (see softPieceChars).
    void insertLines(QTextCursor &cursor, const QString &text);

    void updateLongLineLayout(bool on);
    void setWordWrapModeOfViews();
    void checkLongBlocks(int from, int charsAdded);
    bool m_detached = false; // see changeDetached()

    // The empty line after a table and the rows that ask for a height
    // (core/tablegaps.h) follow the edits: the range changed since the last
    // settling, settled once the edit is done.
    void noteTableGapChange(int from, int charsAdded);
    void settleTableGapsOfEdit();
    int m_gapFrom = -1;
    int m_gapTo = -1;
    bool m_settling = false; // its own changes are no edit to settle

    void applyZoom();
    ViewZoom m_zoom;

    bool m_longLineLayout = false;
    QTextCharFormat m_defaultFormat;

    View m_view = View::Fast;
    QTextDocument *m_document = nullptr;
    // What a view shows while the other one shows the document.
    QTextDocument *m_fastParking = nullptr;
    QTextDocument *m_richParking = nullptr;
    EditorView<QPlainTextEdit> *m_fast = nullptr;
    EditorView<QTextEdit> *m_rich = nullptr;
    QStackedLayout *m_stack = nullptr;
};

} // namespace Inkwell
