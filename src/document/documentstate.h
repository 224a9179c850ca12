// The document model: the one document the window edits, with no widget in
// it. It owns the QTextDocument the editing control shows and what is known
// about it: the file it was read from (path, title, encoding, whether it was
// scrambled), the baseline of the change test, its kind (plain or rich), how
// its pictures spent their budget, and the loader that brings a big text
// file in slices. Its commands return values: a result, an Error, or a
// question for the window to ask and answer back. It asks nothing and shows
// nothing; bytes are made and read by the file layer (documentfile.h).
#pragma once

#include "core/documentimages.h"
#include "core/documentshape.h"
#include "core/error.h"
#include "core/filestamp.h"
#include "core/regularfile.h"
#include "core/textbaseline.h"
#include "core/textencoding.h"
#include "document/documentfile.h"
#include "document/documentquestion.h"
#include "document/saverequest.h"
#include "document/textloader.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>
#include <optional>
#include <vector>

class QTextDocument;

namespace Inkwell {

// The file a document was read from or last written to as plain or
// scrambled text, as a draft journal starts from it: enough to find it again
// and to tell that it still holds the same bytes.
struct SourceIdentity {
    QString path;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 hash = 0;       // contentHash() of the bytes on disk
    bool scrambled = false; // read or written as an encrypted (.stx) file
    bool operator==(const SourceIdentity &) const = default;
};

class DocumentState : public QObject {
    Q_OBJECT
public:
    explicit DocumentState(QObject *parent = nullptr);
    ~DocumentState() override;

    // The document itself; the same object for the model's life.
    QTextDocument *document() const { return m_document; }
    // Plain documents show in the fast view, rich ones in the rich view.
    DocumentKind kind() const { return m_kind; }
    // Shows the document as the other kind from now on (kindChanged()).
    void setKind(DocumentKind kind);
    // The format a text file's characters get and what an unformatted
    // character looks like (the editing control's default).
    void setPlainFormat(const QTextCharFormat &format) { m_plainFormat = format; }
    const QTextCharFormat &plainFormat() const { return m_plainFormat; }

    // The baseline of the change test: the document's text and character
    // formats right after the last read or successful save.
    const TextBaseline &loadedText() const { return m_loadedText; }

    // The document's name: the title of the file it was last read from or
    // saved to, "" for a new document.
    QString title() const { return m_title; }
    // The name the caption shows: the title, or "无标题".
    QString shownTitle() const;
    // The window's caption for it ("无标题 - Inkwell" untitled).
    QString caption() const;
    static QString captionFor(const QString &title);
    // The file the document was last read from or saved to ("" for a new
    // document), and whether that was an encrypted (.stx) file.
    QString lastPath() const { return m_lastPath; }
    bool isEncrypted() const { return m_encrypted; }
    // The encoding plain-text saves use: the one the text was read in.
    TextEncoding encoding() const { return m_encoding; }

    // The text file the document is, as read or saved, when reading that
    // file again gives this document; none after an RTF read or save, a save
    // that lost characters, or a new document.
    std::optional<SourceIdentity> sourceIdentity() const { return m_sourceIdentity; }

    bool DocumentChanged() const;
    // The question before the document is replaced or the window closes.
    static Question saveChangesQuestion();

    // Empties the document and the baseline (the start of a run).
    void clear();
    // An empty, untitled, unchanged document.
    void new_();
    // Reads the file into the document and names the document after it; an
    // Error (nothing changed) when it cannot be read. A missing file is
    // created empty.
    std::optional<Error> openFile(const QString &path, ReadMode mode);
    // Reads the file into the document without naming it.
    std::optional<Error> ReadTextFile(const QString &path, ReadMode mode = ReadMode::Text);

    // The file named on the command line at start-up (the arguments after
    // the program). A name that exists as written is opened as written;
    // otherwise the arguments joined by blanks are one path, with blanks
    // around it and one pair of enclosing quotes removed.
    std::optional<Error> openCommandLine(const QStringList &arguments);
    static QString pathFromCommandLine(const QStringList &arguments);

    // Writes the document to the request's path in the format its title's
    // ending chooses, unless a question must be answered first: that
    // question comes back (agree to it on the request and save again), and
    // none once the file is written. A written file is the new baseline and
    // names the document.
    Result<std::optional<Question>> save(SaveRequest &request);

    // What the last save of this document wrote, as it is on disk (a
    // scrambled file's scrambled bytes): what tells later that the file is
    // still the one saved. None until a save of the current content.
    struct WrittenFile {
        QString path;
        qint64 size = 0;
        quint64 hash = 0; // contentHash() of the bytes
    };
    const std::optional<WrittenFile> &writtenFile() const { return m_written; }
    // True while a save writes the document: nothing may change it until
    // savingChanged(false).
    bool isSaving() const { return !m_savingTo.isEmpty(); }
    // The name of the file a save in progress writes, as the user reads it.
    QString savingTo() const { return m_savingTo; }

    // Whether the file the document was last read from or saved to was
    // changed (or removed) by another program since; Unchanged for a
    // document with no file.
    DiskState diskState() const;
    // Asked when the window becomes active again: the offer to read the
    // file again, when it changed on disk since it was read or saved. Each
    // change is offered once (the save's own question about it counts).
    std::optional<Question> reloadQuestion();
    // Reads the document's file again, as it was opened.
    std::optional<Error> reload();

    // Puts a draft's RTF in as the document: no file holds this text, so it
    // counts as changed until it is saved or replaced.
    std::optional<Error> adoptRecovered(const QByteArray &rtf, const QString &title,
                                        const QString &path, bool encrypted,
                                        const TextEncoding &encoding);

    // The parts of recovering a draft journal: the text of a plain snapshot
    // (paragraph marks as "\n"; `softBreaks` are the document positions of
    // the marks that are no line end) put in as the document, and the
    // document, rebuilt, taken as recovered: changed, with the name, file and
    // encoding it had.
    void adoptPlainText(const QString &text, const std::vector<int> &softBreaks);
    void markRecovered(const QString &title, const QString &path, bool encrypted,
                       const TextEncoding &encoding);

    // The largest file a read accepts (defaultReadLimit() unless set).
    void setReadLimit(qint64 bytes);
    // True while a big file is still arriving in slices.
    bool isLoading() const { return m_loader.isLoading(); }
    // Appends what is left of a load now (before a save or a print).
    void finishLoading();
    // How the last RTF read spent the picture budget.
    DocumentImages::BudgetUse pictureUse() const { return m_pictures; }
    // What the user should know about the document just read: pictures
    // shown as placeholders, hidden content a save would not keep.
    QStringList loadWarnings() const;

signals:
    void captionChanged(const QString &caption);
    void kindChanged(DocumentKind kind);
    // The content is about to be replaced whole by a read: whoever lays the
    // document out lets go of it until replaced() (a paragraph of megabytes
    // would be laid out as it arrives).
    void aboutToReplace();
    void replaced(DocumentKind kind);
    // The document was emptied.
    void emptied();
    // A text file arrives in slices: the document must not be edited
    // meanwhile.
    void loadingChanged(bool loading);
    // After each slice; `first` marks the first one.
    void loadProgress(qint64 done, qint64 total, bool first);
    void loadFinished();
    // A save writes the document (true) or is done (false). In between,
    // saveProgress() comes after each piece written (and while the file is
    // flushed to the disk); a listener may let the event loop run, as long
    // as nothing edits the document (no user input: the editor is
    // read-only meanwhile).
    void savingChanged(bool saving);
    void saveProgress(qint64 done, qint64 total);

private:
    void markUnchanged();
    // The baseline of the text just written, so that nothing reads the text again.
    void markUnchanged(TextBaseline written);
    // Writes a plain or scrambled save in pieces: a question when a
    // character has no form in the encoding and the user has not agreed
    // (nothing written), else none.
    Result<std::optional<Question>> savePlain(SaveRequest &request, FileFormat format);
    // Everything a successful save settles, whichever format it wrote.
    void saved(SaveRequest &request, FileFormat format, std::optional<FileStamp> stamp,
               bool lossless);
    static Question unencodableQuestion(const QString &fileTitle);
    void name(const QString &title, const QString &path, bool encrypted);
    void onLoadFinished();
    // Empties the document, as plain text.
    void replaceContent();
    // Reads RTF into the emptied document and settles its kind.
    std::optional<Error> loadRtf(const QByteArray &bytes);
    // The questions a save asks before it writes, in the order asked.
    std::optional<Question> saveQuestion(SaveRequest &request, FileFormat format);
    // Whether a save to `path` writes the file the document was read from
    // or saved to, under its own name or another.
    bool savesOverOwnFile(const QString &path) const;
    const Serialized &bytesFor(SaveRequest &request, FileFormat format);

    QTextDocument *m_document = nullptr;
    DocumentKind m_kind = DocumentKind::Plain;
    QTextCharFormat m_plainFormat;
    TextLoader m_loader;
    TextBaseline m_loadedText;
    TextEncoding m_encoding;
    DocumentImages::BudgetUse m_pictures;
    qint64 m_keptDropped = 0; // hidden RTF past the cap, lost to a save
    QString m_title;
    bool m_undecodable = false;
    QString m_lastPath;
    bool m_encrypted = false;
    bool m_recovered = false;
    // What the document last was on disk: a save under a name that chooses
    // RTF asks before it turns plain text into RTF.
    enum class Source { New, Text, Rtf, Recovered };
    Source m_source = Source::New;
    // Read from an encrypted file (or recovered from such a document's
    // draft), and not saved unscrambled since.
    bool m_fromEncrypted = false;
    qint64 m_readLimit = defaultReadLimit();
    // The file at m_lastPath as last read or written, and as it was when the
    // user was last told it had changed.
    std::optional<FileStamp> m_diskStamp;
    std::optional<FileStamp> m_toldStamp;
    std::optional<FileStamp> m_readStamp; // of the file ReadTextFile read last
    std::optional<WrittenFile> m_written;
    QString m_savingTo; // while a save writes
    std::optional<SourceIdentity> m_sourceIdentity;
    std::optional<SourceIdentity> m_readIdentity; // of a text file still loading
};

} // namespace Inkwell
