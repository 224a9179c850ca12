// Keeps a draft of the unsaved document on disk so that a crash, a kill or a
// power cut loses at most a few seconds of typing, and offers orphaned drafts
// (their window gone without closing normally) back at the next start.
//
// A draft is a journal (draftfile.h, draftjournal.h): a base the document is
// rebuilt from, then the edits made since, appended as they come, so that a
// draft write costs what the edits since the last one cost. The base is the
// text file a big plain document was read from or saved to, nothing for a new
// document, or else a snapshot: RTF written in slices, or a plain document's
// text. When the edits outgrow a share of the document, or one cannot be
// recorded, a fresh snapshot replaces the draft (compaction).
#pragma once

#include "core/error.h"
#include "core/textencoding.h"
#include "document/draftjournal.h"
#include "rtf/rtfwriter.h"

#include <QDateTime>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace Inkwell {

class Clock;
class DocumentState;

// Measured on the keeper's clock. A write appends only the edits since the
// last one, so drafts come often: a kill loses at most about a second of
// typing and the write in progress.
struct DraftTiming {
    std::chrono::milliseconds idle{1000};    // after the last change
    std::chrono::milliseconds longest{1000}; // at the latest while changes go on
    // Real time, not the keeper's clock: the longest the window's thread
    // spends at a time on writing a rich document's draft, so that keys
    // typed meanwhile are not held up.
    std::chrono::milliseconds slice{4};
};

// A draft left by a window that did not close normally, as the user is asked
// about it.
struct OrphanDraft {
    QString title;   // the document's name as the caption showed it
    QDateTime saved; // when the draft was written
};

// A draft that cannot be restored. It is set aside so that it is never
// offered again.
struct DamagedDraft {
    QString path;      // where it was
    QString renamedTo; // where it is now; empty when it could not be renamed
    QString why;       // what is wrong with it, for the user
};

class DraftKeeper : public QObject {
    Q_OBJECT
public:
    // `directory` is defaultDraftDirectory() in the program; it is made,
    // readable only by the user, if missing.
    // Drafts are of `document`: its edits, its kind (a rich document's
    // snapshot is written as RTF in slices), its title, file and encoding.
    DraftKeeper(DocumentState &document, const Clock &clock, const QString &directory,
                DraftTiming timing = DraftTiming(), QObject *parent = nullptr);
    // Waits for a write in progress and releases the lock, but keeps the
    // draft: only a normal close (discard()) deletes it.
    ~DraftKeeper() override;

    // The window's part in recovery: whether the user wants a draft back, and
    // telling the user of one that cannot come back.
    using WantsBack = std::function<bool(const OrphanDraft &)>;
    using TellDamaged = std::function<void(const DamagedDraft &)>;
    // Start-up, before a file is read: offers each orphaned draft, newest
    // first, to `wantsBack`. After a yes the draft becomes the document (and
    // this window's draft) and the others wait for the next start; after a no
    // it moves to discardedDirectory(). A draft that cannot be read or loaded
    // is set aside and passed to `damaged`, in the order met. True when one
    // was restored or is being restored.
    //
    // A draft of edits to a big text file reads that file as an open does,
    // in slices from the event loop, beginning while `wantsBack` waits for
    // the user (a no empties the document again), so that the window shows
    // the text as it arrives: its edits are replayed once the file is in
    // (isRecovering() until then). A draft found not to fit the file then is
    // set aside and passed to `damaged` from the event loop. Emptying the
    // document or reading another file meanwhile, or closing the window,
    // gives the recovery up and leaves the draft for the next start.
    bool recoverOrphans(const WantsBack &wantsBack, const TellDamaged &damaged);
    // True while a recovered draft waits for its file to arrive.
    bool isRecovering() const { return m_pending != nullptr; }
    // The document's name as the question showed it, while isRecovering()
    // or while its file arrives during the question; else empty.
    QString recoveringTitle() const;

    // Drafts refused at start-up wait in this folder beside the drafts for
    // this many days before a later start-up removes them.
    static constexpr int keepDiscardedDays = 7;
    QString discardedDirectory() const;

    // The window closes normally (the document saved, unchanged, or given up).
    void discard();

    // This window's draft file (it exists only while a draft is needed).
    QString draftPath() const { return m_draftPath; }
    // Writes a draft now if one is needed, and waits until it is on disk;
    // the Error when it could not be written (the previous draft, if any,
    // is then still whole) or the keeper has no draft file of its own.
    std::optional<Error> flush();
    // Writes a draft if the document has been idle long enough, or changing
    // for too long, by the clock. The keeper's timer calls it when the next
    // one may be due; tests call it after moving their clock. True when a
    // draft was due: its write has begun, or follows the one in progress.
    bool tick();
    // True while a draft is on its way to disk on the worker thread.
    bool isWriting() const { return m_writing; }
    // Nanoseconds the GUI thread spent on the last draft write in one go (the
    // longest slice of a snapshot).
    qint64 lastSnapshotCost() const { return m_lastSnapshotCost; }
    // Bytes the last draft write put on the disk (appended, or the whole
    // draft when it was written afresh).
    qint64 lastWriteBytes() const { return m_lastWriteBytes; }
    // The edits recorded since the draft's base, in bytes of the draft.
    qint64 journalBytes() const { return m_journalBytes; }
    // Documents up to this many characters always start from a snapshot:
    // cheap, and their draft then needs no other file.
    static constexpr int smallDocument = 1 << 20;

signals:
    void draftWritten();
    // A draft could not be written (a full disk, a folder gone): emitted
    // once, at the first failure after a write that worked; the keeper goes
    // on trying, and draftWritten() says when it worked again.
    void draftFailed(const Inkwell::Error &error);
    void draftDeleted();
    // A recovery that waited for its file is over: the draft is the document
    // (restored) or was set aside (told to the `damaged` of recoverOrphans()).
    void recoveryFinished(bool restored);

private:
    bool needsDraft() const;
    void changed();
    bool due(const QDateTime &now) const;
    void scheduleTick(const QDateTime &now);
    void stopTiming();
    void modificationChanged(bool modified);
    void restartJournal();
    qint64 compactionLimit() const;
    void writeDraft();
    void writeSnapshotSlice();
    void dropSnapshot();
    DraftHeader header() const;
    void writeFresh(DraftBase base, QByteArray records);
    void writeAppend(QByteArray records);
    void written(const std::optional<Error> &failure, bool fresh, qint64 bytes,
                 qint64 journalBytes);
    void settle();
    bool claimFreshDraft();
    DamagedDraft setAside(const QString &path, const QString &why);
    void removeDeadLocks();
    void putInDiscarded(const QString &path);
    void removeOldDiscarded();
    std::optional<Error> restore(const DecodedDraft &draft, const std::optional<DraftBase> &base);
    std::optional<Error> replayOnto(const DecodedDraft &draft, const DraftBase &base,
                                    std::optional<Error> error);
    void adopt(const QString &path, std::unique_ptr<QLockFile> lock, const DecodedDraft &draft);
    struct PendingRecovery;
    std::optional<Error> beginSourceRead(const DraftBase &base);
    void dropSourceRead();
    std::optional<Error> startFromSource(const QString &path, std::unique_ptr<QLockFile> lock,
                                         const DecodedDraft &draft, const DraftBase &base,
                                         const std::optional<Error> &readError);
    void sourceLoaded();
    void abandonRecovery();
    std::optional<Error> checkSource(const DraftBase &base) const;
    QTextDocument &text() const;

    DocumentState &m_document;
    const Clock &m_clock;
    DraftTiming m_timing;
    QString m_directory;
    QString m_draftPath;
    std::unique_ptr<QLockFile> m_lock;
    DraftJournal m_journal;
    // What the journal started from, should the draft be written afresh
    // without a snapshot.
    enum class Start { None, Empty, Source };
    Start m_start = Start::None;
    DraftBase m_startBase;
    // The draft file holds this document's base and every record taken from
    // the journal so far; its records after the base take this many bytes.
    bool m_onDisk = false;
    qint64 m_journalBytes = 0;
    bool m_recovering = false;
    // A draft whose base file is still arriving in slices, held locked so
    // that no other instance offers it meanwhile.
    std::unique_ptr<PendingRecovery> m_pending;
    QString m_askingTitle; // of the draft whose file is read during the question
    TellDamaged m_tellDamaged;
    QDateTime m_idleDue;    // invalid: no change waiting
    QDateTime m_longestDue; // invalid: no change waiting
    QTimer m_tick;          // wakes tick() when a deadline may have come
    QTimer m_catchUp;       // the next slice of a snapshot
    // A snapshot being made in slices between events. A change starts it
    // again; after a few such restarts it is made whole.
    std::unique_ptr<Rtf::SlicedWriter> m_richWriter;
    std::unique_ptr<PlainSnapshotWriter> m_plainWriter;
    TextEncoding m_snapshotEncoding;
    int m_plainCodePage = -1; // of a plain snapshot; -1: the document's own, if lossless
    int m_snapshotRestarts = 0;
    qint64 m_snapshotLongestSlice = 0;
    QThreadPool m_worker;
    bool m_writing = false;
    bool m_writeAgain = false;
    bool m_failing = false; // the last write failed and that was told
    bool m_closed = false;
    std::optional<Error> m_claimFailure; // no draft file could be claimed
    std::optional<Error> m_lastWrite;    // how the last write ended
    qint64 m_lastSnapshotCost = 0;
    qint64 m_lastWriteBytes = 0;
};

} // namespace Inkwell
