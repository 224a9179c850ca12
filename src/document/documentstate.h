// What the program knows about its one document: the text and formats last
// read from (or saved to) a file, the caption, the file's encoding, the
// change test and the save prompt; and the commands that replace or write
// the document. Bytes are made and read by the file layer (documentfile.h);
// failures come back as Error values for the window to show.
#pragma once

#include "core/error.h"
#include "core/messagehost.h"
#include "core/regularfile.h"
#include "core/textbaseline.h"
#include "core/textencoding.h"
#include "controls/richtextbox.h"
#include "document/documentfile.h"
#include "document/textloader.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace Inkwell {

class CommonDialog;

class DocumentState : public QObject {
    Q_OBJECT
public:
    // `fileDialog` chooses the files of open and save, `scrambledFileDialog`
    // those of opening a scrambled file.
    DocumentState(RichTextBox &editor, CommonDialog &fileDialog, CommonDialog &scrambledFileDialog,
                  MessageHost &messages, QObject *parent = nullptr);

    // The baseline of the change test: the document's text and character
    // formats as the editor held them right after the last read or
    // successful save.
    const TextBaseline &loadedText() const { return m_loadedText; }

    // An RTF longer than this many characters that holds no tables, lists or
    // paragraph formats is shown in the fast view.
    static constexpr int richViewChars = 1000000;

    static QString captionFor(const QString &title);
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    bool DocumentChanged() const;
    MessageAnswer SaveChangesPrompt();

    // A command's end: whether it went through, and why not when it failed.
    struct Outcome {
        bool done = false;
        std::optional<Error> failure;
    };
    // The prompt before the document is replaced or the window closes: done
    // when the caller may go on (unchanged, No, or Yes and the save worked).
    Outcome mayDiscard();

    enum class SaveResult { Saved, Cancelled, Failed };
    struct Saved {
        SaveResult result = SaveResult::Cancelled;
        std::optional<Error> failure;
    };
    // The save dialog, then saveTo() with the chosen file.
    Saved save();
    // Writes the document to the path in the format its title's ending
    // chooses, after the questions a lossy save needs.
    Saved saveTo(const QString &path, const QString &fileTitle);

    std::optional<Error> new_();
    std::optional<Error> open();
    std::optional<Error> opensafe();
    // A file dropped on the window: opened as the open command would open
    // the same file chosen in its dialog (the save question first).
    std::optional<Error> openDropped(const QString &path);
    // Reads the file into the editor and names the document after it.
    std::optional<Error> openFile(const QString &path, ReadMode mode);

    // The file named on the command line at start-up (the arguments after
    // the program). A name that exists as written is opened as written;
    // otherwise the arguments joined by blanks are one path, with blanks
    // around it and one pair of enclosing quotes removed.
    std::optional<Error> openCommandLine(const QStringList &arguments);
    static QString pathFromCommandLine(const QStringList &arguments);

    // The largest file a read accepts (defaultReadLimit() unless set).
    void setReadLimit(qint64 bytes);

    // Reads the file into the editor; an Error (nothing changed) when it
    // cannot be read. A missing file is created empty.
    std::optional<Error> ReadTextFile(const QString &path, ReadMode mode = ReadMode::Text);

    // Empties the editor and the baseline (the start of a run).
    void clear();

    // The encoding plain-text saves use: the one the text was read in.
    TextEncoding encoding() const { return m_encoding; }
    // True while a big file is still arriving in slices.
    bool isLoading() const { return m_loader.isLoading(); }
    // Appends what is left of a load now (before a print).
    void finishLoading();
    // How the last RTF read spent the picture budget.
    DocumentImages::BudgetUse pictureUse() const { return m_pictures; }

    // The file the document was last read from or saved to ("" for a new
    // document), and whether that was an encrypted (.stx) file.
    QString lastPath() const { return m_lastPath; }
    bool isEncrypted() const { return m_encrypted; }
    // Puts a draft's RTF into the editor as the document: no file holds this
    // text, so it counts as changed until it is saved or replaced.
    void adoptRecovered(const QByteArray &rtf, const QString &title, const QString &path,
                        bool encrypted, const TextEncoding &encoding);
    // Tells the user, once for the load just done, when some of its pictures
    // show as placeholders because the document's picture budget was spent.
    void reportHeldBackPictures();

signals:
    void captionChanged(const QString &caption);
    void loadProgress(qint64 done, qint64 total);
    void loadFinished();

private:
    void markUnchanged();
    void rememberSource(const QString &path, bool encrypted);
    void onLoadProgress(qint64 done, qint64 total, bool first);
    void onLoadFinished();
    bool confirmLossySave(const QString &fileTitle, bool lossless);
    bool confirmFormatLoss();
    // Empties the editor, in the fast view.
    void replaceContent();
    // Reads RTF into the emptied editor and settles its view.
    void loadRtf(const QByteArray &bytes);

    RichTextBox &m_editor;
    CommonDialog &m_fileDialog;
    CommonDialog &m_scrambledFileDialog;
    MessageHost &m_messages;
    TextLoader m_loader;
    TextBaseline m_loadedText;
    TextEncoding m_encoding;
    DocumentImages::BudgetUse m_pictures;
    qint64 m_keptDropped = 0; // hidden RTF past the cap, lost to a save
    QString m_caption;
    QString m_loadedTitle;
    bool m_undecodable = false;
    bool m_wasReadOnly = false;
    QString m_lastPath;
    bool m_encrypted = false;
    bool m_recovered = false;
    qint64 m_readLimit = defaultReadLimit();
};

} // namespace Inkwell
