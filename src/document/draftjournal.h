// A draft as an edit journal: what the document is rebuilt from (its base)
// and the edits made since, recorded from the document's own change reports,
// so that writing a draft costs what the edits cost, not a copy of the
// document. The records' framing is draftfile.h's.
#pragma once

#include "core/documentshape.h"
#include "core/error.h"
#include "document/documentstate.h"
#include "document/draftfile.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTextBlock>

#include <memory>
#include <optional>
#include <vector>

class QDataStream;
class QTextDocument;
class QTextFormat;

namespace Inkwell {

// What a draft's document is rebuilt from before its edits are replayed.
struct DraftBase {
    enum class Kind : quint8 {
        Empty,     // a new document
        Source,    // the text file it was read from or saved to, read again
        PlainText, // a snapshot of a plain document's text
        Rtf,       // a snapshot of any document as RTF
    };
    Kind kind = Kind::Empty;
    DocumentKind documentKind = DocumentKind::Plain;
    // Source: the file, and the document right after it was read, so that
    // a rebuilt document that differs is told apart.
    SourceIdentity source;
    int characters = 0;    // characterCount()
    int blocks = 0;        // blockCount()
    qint64 textLength = 0; // the baseline's length
    // PlainText: the text in code page `codePage` (0: UTF-8), paragraph
    // marks as "\n", and the document positions of the marks that are soft
    // breaks. Rtf: the RTF.
    QByteArray bytes;
    int codePage = 0;
    std::vector<int> softBreaks;

    QByteArray encode() const;
    static std::optional<DraftBase> decode(const QByteArray &payload);
};

// Records the edits of a document as draft records (framed, ready to
// append), from QTextDocument::contentsChange: the range removed, and what
// stands in the range added (text, character formats, paragraph marks with
// their paragraphs' formats), and each picture's bytes once. An edit that
// records cannot bring back exactly (a table or frame made or removed, list
// membership, a format that does not survive the trip) asks for a snapshot.
class DraftJournal : public QObject {
    Q_OBJECT
public:
    explicit DraftJournal(QTextDocument *document, QObject *parent = nullptr);

    // Forgets what was recorded: the journal starts from the document as it is.
    void restart();
    // A read or a recovery replaces the document whole; nothing is recorded
    // meanwhile, and restart() follows.
    void setPaused(bool paused) { m_paused = paused; }
    // The framed records of the edits since the last take().
    QByteArray take();
    qint64 pendingBytes() const { return m_pending.size(); }
    // An edit was met that records cannot express: only a snapshot brings a
    // draft up to date.
    bool needsSnapshot() const { return m_needsSnapshot; }
    void requireSnapshot();
    // An edit whose record would pass this many bytes asks for a snapshot.
    void setLargestRecord(qint64 bytes) { m_largestRecord = bytes; }

private:
    void contentsChanged(int position, int removed, int added);
    std::optional<QByteArray> editRecord(int position, int removed, int added);
    bool formatTravels(const QTextFormat &format, int index, bool isBlock);
    void writeFormat(QDataStream &out, const QTextFormat &format, int index, bool isBlock);
    void addPicture(const QString &name);
    std::vector<int> frameMarks(std::vector<int> *shape) const;

    QTextDocument *m_document;
    QByteArray m_pending;
    bool m_paused = false;
    bool m_needsSnapshot = false;
    qint64 m_largestRecord = qint64(1) << 20;
    int m_length = 0; // characterCount() after the last change
    QSet<QString> m_picturesWritten;
    QHash<int, bool> m_charFormatTravels; // by format index
    QHash<int, bool> m_blockFormatTravels;
    QHash<int, quint32> m_formatIds; // formats written, by format index
    std::vector<int> m_frameMarks;   // positions of the frame and cell marks
    std::vector<int> m_frameShape;   // rows and columns of each table
};

// Replays records (pictures and edits), one after another in the order they
// were written, onto the document rebuilt from their base.
class DraftReplay {
public:
    explicit DraftReplay(QTextDocument &document);
    ~DraftReplay();
    // The Error when the record does not fit the document.
    std::optional<Error> apply(const DraftRecord &record);

    struct State; // what the records so far defined: formats, pictures

private:
    QTextDocument &m_document;
    std::unique_ptr<State> m_state;
};

// Replays the records after the base. The Error when a record does not fit
// the document; the records before it stay replayed.
std::optional<Error> replayDraftRecords(QTextDocument &document,
                                        const std::vector<DraftRecord> &records);

// The text of a plain document, with where its soft breaks are, written a
// slice at a time between events.
class PlainSnapshotWriter {
public:
    // `codePage` 0 writes UTF-8.
    PlainSnapshotWriter(const QTextDocument &document, int codePage);
    // Writes on until `deadline`; true when the whole document is written.
    bool writeSome(const QDeadlineTimer &deadline);
    // False when a character had no form in the code page.
    bool lossless() const { return m_lossless; }
    int codePage() const { return m_codePage; }
    DraftBase take();

private:
    void encodePending();

    const QTextDocument &m_document;
    int m_codePage;
    QTextBlock m_block;
    bool m_pieces;
    QString m_text;
    DraftBase m_base;
    bool m_lossless = true;
};

// The text of a PlainText base; none when its bytes do not decode.
std::optional<QString> plainTextOfBase(const DraftBase &base);

} // namespace Inkwell
