// What the program knows about its one document: the text last read from
// (or saved to) a file, the caption, the change test and the save prompt;
// and the commands that replace or write the document.
#pragma once

#include "core/messagehost.h"
#include "core/regularfile.h"
#include "core/textbaseline.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace Inkwell {

class CommonDialog;
class RichTextBox;

class DocumentState : public QObject {
    Q_OBJECT
public:
    DocumentState(RichTextBox &Text1, CommonDialog &openuse, CommonDialog &safeuse,
                  MessageHost &messages, QObject *parent = nullptr);

    // The baseline of the change test: the document's text and character
    // formats as the control reported them right after the last read or
    // successful save.
    TextBaseline LoadedText;

    static QString captionFor(const QString &title);
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    bool DocumentChanged() const;
    MessageAnswer SaveChangesPrompt();
    // The prompt before the document is replaced or the window closes: true
    // when the caller may go on (unchanged, No, or Yes and the save worked).
    bool mayDiscard();

    enum class SaveResult { Saved, Cancelled, Failed };
    SaveResult save();
    void new_();
    void open();
    void opensafe();
    // A file dropped on the window: opened as the open command would open
    // the same file chosen in its dialog (the save question first).
    void openDropped(const QString &path);

    // The file named on the command line at start-up (the arguments after
    // the program). A name that exists as written is opened as written;
    // otherwise the arguments joined by blanks are one path, with blanks
    // around it and one pair of enclosing quotes removed.
    void openCommandLine(const QStringList &arguments);
    static QString pathFromCommandLine(const QStringList &arguments);

    // The largest file a read accepts (defaultReadLimit() unless set).
    void setReadLimit(qint64 bytes);

    enum class ReadMode { Text, Scrambled };
    // Reads the file into the control; false (and a message to the user,
    // nothing changed) when it cannot be read. A missing file is created empty.
    bool ReadTextFile(const QString &path, ReadMode mode = ReadMode::Text);

    // True while the last read had bytes the encoding could not decode.
    bool hasUndecodableBytes() const { return m_undecodable; }

    // The file the document was last read from or saved to ("" for a new
    // document), and whether that was an encrypted (.stx) file.
    QString lastPath() const { return m_lastPath; }
    bool isEncrypted() const { return m_encrypted; }
    // Takes the control's content, just restored from a draft, as the
    // document: no file holds this text, so it counts as changed until it is
    // saved or replaced.
    void adoptRecovered(const QString &title, const QString &path, bool encrypted);
    // Tells the user, once for the load just done, when some of its pictures
    // show as placeholders because the document's picture budget was spent.
    void reportHeldBackPictures();

signals:
    void captionChanged(const QString &caption);

private:
    void markUnchanged();
    void rememberSource(const QString &path, bool encrypted);
    void onLoadFinished();
    bool confirmLossySave(const QString &fileTitle, bool lossless);
    bool confirmFormatLoss();
    void reportSaveFailure(const QString &path, const QString &why);

    RichTextBox &m_text1;
    CommonDialog &m_openuse;
    CommonDialog &m_safeuse;
    MessageHost &m_messages;
    QString m_caption;
    QString m_loadedTitle;
    bool m_undecodable = false;
    bool m_textLoadPending = false;
    QString m_lastPath;
    bool m_encrypted = false;
    bool m_recovered = false;
    qint64 m_readLimit = defaultReadLimit();
};

} // namespace Inkwell
