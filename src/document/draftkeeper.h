// Keeps a draft of the unsaved document on disk so that a crash, a kill or a
// power cut loses at most a few seconds of typing, and offers orphaned drafts
// (their window gone without closing normally) back at the next start.
#pragma once

#include "document/documentshadow.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <memory>

namespace Inkwell {

class Clock;
class DocumentState;
class MessageHost;
class RichTextBox;

struct DraftTiming {
    std::chrono::milliseconds idle{2000};     // after the last change
    std::chrono::milliseconds longest{30000}; // at the latest while changes go on
};

class DraftKeeper : public QObject {
    Q_OBJECT
public:
    // `directory` is defaultDraftDirectory() in the program; it is made,
    // readable only by the user, if missing.
    DraftKeeper(RichTextBox &Text1, DocumentState &document, MessageHost &messages,
                const Clock &clock, const QString &directory, DraftTiming timing = DraftTiming(),
                QObject *parent = nullptr);
    // Waits for a write in progress and releases the lock, but keeps the
    // draft: only a normal close (discard()) deletes it.
    ~DraftKeeper() override;

    // Start-up, before a file is read: offers each orphaned draft, newest
    // first. After a Yes the draft becomes the document (and this window's
    // draft) and the others wait for the next start; after a No it moves to
    // discardedDirectory(). True when one was restored.
    bool recoverOrphans();

    // Drafts refused at start-up wait in this folder beside the drafts for
    // this many days before a later start-up removes them.
    static constexpr int keepDiscardedDays = 7;
    QString discardedDirectory() const;

    // The window closes normally (the document saved, unchanged, or given up).
    void discard();

    // This window's draft file (it exists only while a draft is needed).
    QString draftPath() const { return m_draftPath; }
    // Writes a draft now if one is needed, and waits until it is on disk.
    void flush();
    // What the last write failed with ("" after a success).
    QString lastError() const { return m_lastError; }
    // Nanoseconds the GUI thread spent on the last snapshot.
    qint64 lastSnapshotCost() const { return m_lastSnapshotCost; }

signals:
    void draftWritten();
    void draftFailed(const QString &why);
    void draftDeleted();

private:
    bool needsDraft() const;
    void changed();
    void modificationChanged(bool modified);
    void writeDraft();
    void startWrite();
    void settle();
    void written(const QString &why);
    bool claimFreshDraft();
    void setAside(const QString &path, const QString &why);
    void removeDeadLocks();
    void putInDiscarded(const QString &path);
    void removeOldDiscarded();
    QString title() const;

    RichTextBox &m_text1;
    DocumentState &m_document;
    MessageHost &m_messages;
    const Clock &m_clock;
    QString m_directory;
    QString m_draftPath;
    std::unique_ptr<QLockFile> m_lock;
    DocumentShadow m_shadow;
    QTimer m_idle;
    QTimer m_longest;
    QTimer m_catchUp; // copies a big change in slices before the snapshot
    QThreadPool m_worker;
    bool m_writing = false;
    bool m_writeAgain = false;
    bool m_closed = false;
    QString m_lastError;
    qint64 m_lastSnapshotCost = 0;
};

} // namespace Inkwell
