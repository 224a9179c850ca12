#include "document/draftkeeper.h"

#include "core/atomicfile.h"
#include "core/clock.h"
#include "core/documentshape.h"
#include "core/filestamp.h"
#include "document/bytescramble.h"
#include "document/documentfile.h"
#include "document/documentstate.h"
#include "document/draftdirectory.h"
#include "document/draftfile.h"
#include "rtf/rtfkept.h"
#include "rtf/rtfreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

#include <algorithm>
#include <atomic>
#include <utility>

namespace Inkwell {

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Restarts of a snapshot by edits before it is made in one go.
constexpr int maxSnapshotRestarts = 3;
// The journal is compacted into a snapshot once its edits pass a quarter of
// the document (two bytes a character), but never below this.
constexpr qint64 smallestCompaction = 256 * 1024;

qint64 recordBytes(const std::vector<DraftRecord> &records)
{
    qint64 bytes = 0;
    for (size_t i = 1; i < records.size(); ++i)
        bytes += frameDraftRecord(records[i].type, {}).size() + records[i].payload.size();
    return bytes;
}

} // namespace

struct DraftKeeper::PendingRecovery {
    QString path;
    std::unique_ptr<QLockFile> lock;
    DecodedDraft draft;
    DraftBase base;
};

DraftKeeper::DraftKeeper(DocumentState &document, const Clock &clock, const QString &directory,
                         DraftTiming timing, QObject *parent)
    : QObject(parent), m_document(document), m_clock(clock), m_timing(timing),
      m_directory(directory), m_journal(document.document())
{
    m_worker.setMaxThreadCount(1); // writes and deletions reach the disk in order
    m_tick.setSingleShot(true);
    m_catchUp.setSingleShot(true);
    m_catchUp.setInterval(0);
    connect(&m_tick, &QTimer::timeout, this, &DraftKeeper::tick);
    connect(&m_catchUp, &QTimer::timeout, this, &DraftKeeper::writeDraft);

    QTextDocument *doc = document.document();
    // A snapshot half made is of a document that is no more: it starts
    // again, with the change, once the events waiting are handled.
    connect(doc, &QTextDocument::contentsChange, this, [this] {
        if (m_richWriter || m_plainWriter) {
            m_richWriter.reset();
            m_plainWriter.reset();
            ++m_snapshotRestarts;
            m_catchUp.start();
        }
    });
    connect(doc, &QTextDocument::contentsChange, this, &DraftKeeper::changed);
    connect(doc, &QTextDocument::modificationChanged, this, &DraftKeeper::modificationChanged);
    // A read replaces the document whole: no edit to record, and the
    // journal starts again from what was read.
    const auto pause = [this] {
        if (!m_recovering)
            m_journal.setPaused(true);
    };
    connect(&document, &DocumentState::aboutToReplace, this, pause);
    connect(&document, &DocumentState::loadingChanged, this, [pause](bool loading) {
        if (loading)
            pause();
    });
    connect(&document, &DocumentState::emptied, this, &DraftKeeper::restartJournal);
    connect(&document, &DocumentState::replaced, this, &DraftKeeper::restartJournal);
    connect(&document, &DocumentState::loadFinished, this, &DraftKeeper::restartJournal);
    // A recovery waiting for its file: the file is in, or the user emptied
    // the document or chose another file before it was.
    connect(&document, &DocumentState::loadFinished, this, &DraftKeeper::sourceLoaded);
    connect(&document, &DocumentState::emptied, this, &DraftKeeper::abandonRecovery);
    claimFreshDraft();
    restartJournal();
}

DraftKeeper::~DraftKeeper()
{
    stopTiming();
    dropSnapshot();
    m_worker.waitForDone();
}

bool DraftKeeper::claimFreshDraft()
{
    if (!QDir().mkpath(m_directory)) {
        m_claimFailure = Error{QStringLiteral("无法创建草稿文件夹“%1”").arg(m_directory), {}};
        return false;
    }
    QFile::setPermissions(m_directory, ownerOnly | QFileDevice::ExeOwner);
    // Unique per window: the time, the process and a counter for windows of
    // one process. The lock beside it tells other instances the window lives.
    static std::atomic<int> counter{0};
    const QString name =
        QStringLiteral("%1-%2-%3.draft")
            .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmsszzz")))
            .arg(QCoreApplication::applicationPid())
            .arg(counter++);
    m_draftPath = QDir(m_directory).filePath(name);
    m_lock = std::make_unique<QLockFile>(m_draftPath + QStringLiteral(".lock"));
    // Only a dead owner makes a lock stale, never its age: a window may
    // stay open for days.
    m_lock->setStaleLockTime(0);
    if (!tryLockPrivately(*m_lock)) {
        m_claimFailure = Error{QStringLiteral("无法锁定草稿文件“%1”").arg(m_draftPath), {}};
        return false;
    }
    return true;
}

bool DraftKeeper::needsDraft() const
{
    // A file still arriving in slices is not an edit.
    return !m_closed && !m_recovering && !m_document.isLoading() && text().isModified();
}

void DraftKeeper::changed()
{
    if (!needsDraft())
        return;
    const QDateTime now = m_clock.now();
    m_idleDue = now.addMSecs(m_timing.idle.count());
    if (!m_longestDue.isValid())
        m_longestDue = now.addMSecs(m_timing.longest.count());
    scheduleTick(now);
}

bool DraftKeeper::due(const QDateTime &now) const
{
    // A deadline further away than its interval means the clock was set
    // back: that must not put the draft off.
    const auto reached = [&now](const QDateTime &deadline, std::chrono::milliseconds interval) {
        if (!deadline.isValid())
            return false;
        const qint64 left = now.msecsTo(deadline);
        return left <= 0 || left > interval.count();
    };
    return reached(m_idleDue, m_timing.idle) || reached(m_longestDue, m_timing.longest);
}

void DraftKeeper::scheduleTick(const QDateTime &now)
{
    // The timer only wakes the keeper; the clock says whether a draft is due.
    qint64 wait = m_timing.longest.count();
    for (const QDateTime &deadline : {m_idleDue, m_longestDue})
        if (deadline.isValid())
            wait = std::min(wait, now.msecsTo(deadline));
    m_tick.start(std::chrono::milliseconds(std::clamp<qint64>(wait, 0, m_timing.longest.count())));
}

void DraftKeeper::stopTiming()
{
    m_idleDue = QDateTime();
    m_longestDue = QDateTime();
    m_tick.stop();
}

bool DraftKeeper::tick()
{
    if (!m_idleDue.isValid() && !m_longestDue.isValid())
        return false;
    const QDateTime now = m_clock.now();
    if (!due(now)) {
        scheduleTick(now);
        return false;
    }
    writeDraft();
    return true;
}

void DraftKeeper::modificationChanged(bool modified)
{
    if (m_recovering)
        return;
    if (modified) {
        changed();
        return;
    }
    // Saved, read, emptied or undone back to the file: the draft has nothing
    // the disk does not hold. Deleted behind any write still in progress.
    stopTiming();
    dropSnapshot();
    m_snapshotRestarts = 0;
    m_writeAgain = false;
    restartJournal();
    const QString path = m_draftPath;
    m_worker.start([this, path] {
        if (QFile::exists(path) && QFile::remove(path))
            QMetaObject::invokeMethod(this, &DraftKeeper::draftDeleted, Qt::QueuedConnection);
    });
}

void DraftKeeper::restartJournal()
{
    if (m_recovering)
        return;
    m_journal.setPaused(false);
    m_journal.restart();
    m_journal.setLargestRecord(compactionLimit());
    m_onDisk = false;
    m_journalBytes = 0;
    m_start = Start::None;
    m_startBase = DraftBase();
    const QTextDocument &doc = text();
    // Only an unchanged document is what it was read or saved as.
    if (m_document.isLoading() || doc.isModified() || m_document.kind() != DocumentKind::Plain)
        return;
    if (doc.characterCount() == 1) {
        m_start = Start::Empty;
        return;
    }
    const std::optional<SourceIdentity> source = m_document.sourceIdentity();
    if (!source || doc.characterCount() <= smallDocument ||
        hasFormatting(doc, DocumentKind::Plain, m_document.plainFormat()))
        return;
    m_start = Start::Source;
    m_startBase.kind = DraftBase::Kind::Source;
    m_startBase.source = *source;
    m_startBase.characters = doc.characterCount();
    m_startBase.blocks = doc.blockCount();
    m_startBase.textLength = m_document.loadedText().size();
}

qint64 DraftKeeper::compactionLimit() const
{
    return std::max<qint64>(smallestCompaction, qint64(text().characterCount()) / 2);
}

QTextDocument &DraftKeeper::text() const
{
    return *m_document.document();
}

void DraftKeeper::writeDraft()
{
    stopTiming();
    if (!needsDraft() || !m_lock || !m_lock->isLocked())
        return;
    if (m_writing) {
        m_writeAgain = true;
        return;
    }
    if (m_richWriter || m_plainWriter) {
        writeSnapshotSlice();
        return;
    }
    QElapsedTimer cost;
    cost.start();
    const qint64 limit = compactionLimit();
    m_journal.setLargestRecord(limit);
    const qint64 pending = m_journal.pendingBytes();
    if (!m_journal.needsSnapshot()) {
        if (m_onDisk && m_journalBytes + pending <= limit) {
            if (pending == 0)
                return; // nothing since the last write
            writeAppend(m_journal.take());
            m_lastSnapshotCost = cost.nsecsElapsed();
            return;
        }
        const bool sourceHolds = m_start == Start::Source &&
                                 m_document.sourceIdentity() == m_startBase.source &&
                                 m_document.kind() == DocumentKind::Plain;
        if (!m_onDisk && pending <= limit && (m_start == Start::Empty || sourceHolds)) {
            DraftBase base = m_startBase;
            base.kind = m_start == Start::Empty ? DraftBase::Kind::Empty : DraftBase::Kind::Source;
            writeFresh(std::move(base), m_journal.take());
            m_lastSnapshotCost = cost.nsecsElapsed();
            return;
        }
    }
    writeSnapshotSlice();
}

// A snapshot is made on this thread, a slice at a time between events, so
// that keys typed meanwhile are not held up; the worker gets only its bytes.
void DraftKeeper::writeSnapshotSlice()
{
    const TextEncoding encoding = m_document.encoding();
    if ((m_richWriter || m_plainWriter) && m_snapshotEncoding != encoding)
        dropSnapshot();
    if (!m_richWriter && !m_plainWriter) {
        m_snapshotEncoding = encoding;
        m_snapshotLongestSlice = 0;
        // A plain document's text goes in its own code page (GBK: two bytes
        // a Chinese character), or UTF-8 when that would lose a character.
        const Rtf::Kept::DocumentGroups kept = Rtf::Kept::documentGroups(text());
        if (m_document.kind() == DocumentKind::Plain && kept.preamble.isEmpty() &&
            kept.tables.isNull() && kept.fontTable.isNull() && !needsRichView(text()) &&
            !hasFormatting(text(), DocumentKind::Plain, m_document.plainFormat())) {
            int codePage = m_plainCodePage;
            if (codePage < 0)
                codePage = encoding.kind == TextEncoding::Kind::Ansi ? rtfCodePageFor(encoding) : 0;
            m_plainWriter = std::make_unique<PlainSnapshotWriter>(text(), codePage);
        } else {
            m_richWriter = std::make_unique<Rtf::SlicedWriter>(text(), rtfCodePageFor(encoding));
        }
    }
    // Edits that keep coming faster than the slices must not put the
    // draft off for ever: after a few restarts it is made in one go.
    const bool whole = m_snapshotRestarts >= maxSnapshotRestarts;
    const QDeadlineTimer deadline =
        whole ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(m_timing.slice);
    QElapsedTimer cost;
    cost.start();
    const bool done =
        m_richWriter ? m_richWriter->writeSome(deadline) : m_plainWriter->writeSome(deadline);
    m_snapshotLongestSlice = std::max(m_snapshotLongestSlice, cost.nsecsElapsed());
    if (!done) {
        m_catchUp.start();
        return;
    }
    DraftBase base;
    if (m_plainWriter) {
        if (!m_plainWriter->lossless()) {
            m_plainCodePage = 0; // again, in UTF-8
            m_plainWriter.reset();
            m_catchUp.start();
            return;
        }
        base = m_plainWriter->take();
        m_plainWriter.reset();
    } else {
        base.kind = DraftBase::Kind::Rtf;
        base.bytes = m_richWriter->take();
        m_richWriter.reset();
    }
    base.documentKind = m_document.kind();
    m_plainCodePage = -1;
    m_snapshotRestarts = 0;
    m_lastSnapshotCost = m_snapshotLongestSlice;
    // The snapshot holds every edit so far: the journal starts after it.
    m_journal.restart();
    m_journal.setLargestRecord(compactionLimit());
    writeFresh(std::move(base), QByteArray());
}

void DraftKeeper::dropSnapshot()
{
    m_richWriter.reset();
    m_plainWriter.reset();
    m_plainCodePage = -1;
    m_catchUp.stop();
}

DraftHeader DraftKeeper::header() const
{
    DraftHeader header;
    header.title = m_document.shownTitle();
    header.path = m_document.lastPath();
    header.saved = m_clock.now();
    header.encoding = m_document.encoding();
    header.encrypted = m_document.isEncrypted();
    return header;
}

void DraftKeeper::writeFresh(DraftBase base, QByteArray records)
{
    const DraftHeader head = header();
    const QString path = m_draftPath;
    const qint64 journalBytes = records.size();
    m_writing = true;
    // The worker reads only the base and the records, never the document.
    m_worker.start([this, base = std::move(base), records = std::move(records), head, path,
                    journalBytes] {
        QByteArray bytes = encodeDraftHeader(head);
        bytes += frameDraftRecord(DraftRecordType::Base, base.encode());
        bytes += records;
        if (head.encrypted)
            scrambleInPlace(bytes);
        // Private from the first byte: a draft is the user's unsaved text.
        std::optional<Error> error = writeFileAtomically(path, bytes, NewFileAccess::OwnerOnly);
        if (error)
            error->what = QStringLiteral("无法保存草稿“%1”").arg(path);
        const qint64 size = bytes.size();
        QMetaObject::invokeMethod(
            this, [this, error, size, journalBytes] { written(error, true, size, journalBytes); },
            Qt::QueuedConnection);
    });
}

void DraftKeeper::writeAppend(QByteArray records)
{
    if (m_document.isEncrypted())
        scrambleInPlace(records);
    const QString path = m_draftPath;
    m_writing = true;
    m_worker.start([this, records = std::move(records), path] {
        const std::optional<Error> error = appendToDraft(path, records);
        const qint64 size = records.size();
        QMetaObject::invokeMethod(
            this, [this, error, size] { written(error, false, size, size); }, Qt::QueuedConnection);
    });
}

void DraftKeeper::written(const std::optional<Error> &failure, bool fresh, qint64 bytes,
                          qint64 journalBytes)
{
    m_writing = false;
    // A failed write leaves the previous draft, if any, whole.
    m_lastWrite = failure;
    if (!failure) {
        m_failing = false;
        m_lastWriteBytes = bytes;
        if (fresh) {
            m_onDisk = true;
            m_journalBytes = journalBytes;
        } else {
            m_journalBytes += journalBytes;
        }
        emit draftWritten();
    } else {
        // The edits taken for it are not on the disk: only a snapshot brings
        // the draft up to date now.
        m_onDisk = false;
        m_journal.requireSnapshot();
        if (!std::exchange(m_failing, true))
            emit draftFailed(*failure);
    }
    // A failed write is tried again even if no key is pressed any more.
    if (failure && needsDraft() && !m_longestDue.isValid()) {
        const QDateTime now = m_clock.now();
        m_longestDue = now.addMSecs(m_timing.longest.count());
        scheduleTick(now);
    }
    if (m_writeAgain) {
        m_writeAgain = false;
        writeDraft();
    }
}

void DraftKeeper::settle()
{
    m_worker.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

std::optional<Error> DraftKeeper::flush()
{
    stopTiming();
    settle(); // a write in progress, and the one it may have asked for
    settle();
    m_writeAgain = false;
    if (!m_lock || !m_lock->isLocked())
        return m_claimFailure;
    m_lastWrite.reset();
    if (!m_writing && needsDraft()) {
        // A snapshot under way is finished in one go.
        m_snapshotRestarts = maxSnapshotRestarts;
        writeDraft();
        m_snapshotRestarts = 0;
    }
    settle();
    return m_lastWrite;
}

void DraftKeeper::discard()
{
    // A draft still being recovered is not this window's yet: it stays for
    // the next start.
    abandonRecovery();
    m_closed = true;
    stopTiming();
    dropSnapshot();
    m_worker.waitForDone();
    QFile::remove(m_draftPath);
    m_lock.reset(); // unlocking removes the lock file
}

DamagedDraft DraftKeeper::setAside(const QString &path, const QString &why)
{
    QString target = path + QStringLiteral(".damaged");
    for (int n = 2; QFile::exists(target); ++n)
        target = path + QStringLiteral(".damaged-%1").arg(n);
    const bool moved = QFile::rename(path, target);
    return DamagedDraft{path, moved ? target : QString(), why};
}

void DraftKeeper::removeDeadLocks()
{
    // A window killed before it wrote any draft leaves only its lock behind.
    const QDir dir(m_directory);
    for (const QString &name : dir.entryList({QStringLiteral("*.draft.lock")}, QDir::Files)) {
        const QString draft = dir.filePath(name.chopped(5));
        if (QFile::exists(draft))
            continue;
        QLockFile lock(dir.filePath(name));
        lock.setStaleLockTime(0);
        if (tryLockPrivately(lock) && !QFile::exists(draft))
            lock.unlock(); // removes the file
    }
}

QString DraftKeeper::discardedDirectory() const
{
    return QDir(m_directory).filePath(QStringLiteral("discarded"));
}

void DraftKeeper::putInDiscarded(const QString &path)
{
    // A draft refused at start-up is kept a while longer, should the answer
    // have been a slip; the time it was refused is its file time.
    const QString folder = discardedDirectory();
    if (!QDir().mkpath(folder)) {
        QFile::remove(path);
        return;
    }
    QFile::setPermissions(folder, ownerOnly | QFileDevice::ExeOwner);
    const QString target = QDir(folder).filePath(QFileInfo(path).fileName());
    QFile::remove(target);
    if (!QFile::rename(path, target)) {
        QFile::remove(path);
        return;
    }
    QFile moved(target);
    if (moved.open(QIODevice::ReadWrite))
        moved.setFileTime(m_clock.now(), QFileDevice::FileModificationTime);
}

void DraftKeeper::removeOldDiscarded()
{
    const QDateTime limit = m_clock.now().addDays(-keepDiscardedDays);
    const QDir dir(discardedDirectory());
    for (const QFileInfo &info :
         dir.entryInfoList({QStringLiteral("*.draft")}, QDir::Files | QDir::Hidden))
        if (info.lastModified() < limit)
            QFile::remove(info.absoluteFilePath());
}

bool DraftKeeper::recoverOrphans(const WantsBack &wantsBack, const TellDamaged &damaged)
{
    removeOldDiscarded();
    removeDeadLocks();
    const QFileInfoList drafts =
        QDir(m_directory)
            .entryInfoList({QStringLiteral("*.draft")}, QDir::Files | QDir::Hidden, QDir::Time);
    for (const QFileInfo &info : drafts) {
        const QString path = info.absoluteFilePath();
        if (path == QFileInfo(m_draftPath).absoluteFilePath())
            continue;
        auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        if (!tryLockPrivately(*lock))
            continue; // its window is alive (this or another instance)
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue; // taken by another instance between the listing and the lock
        const Result<DecodedDraft> decoded = decodeDraft(file.readAll());
        file.close();
        if (!decoded.ok()) {
            damaged(setAside(path, decoded.error().why));
            continue;
        }
        const DecodedDraft &draft = decoded.value();
        const DraftHeader &h = draft.header;
        std::optional<DraftBase> base;
        if (draft.version >= 2) {
            base = DraftBase::decode(draft.records.front().payload);
            if (!base) {
                damaged(
                    setAside(path, QStringLiteral("草稿文件的内容已损坏（无法读取文档的起点）")));
                continue;
            }
            // A draft of edits to a file needs that file as it was; told
            // before the question, since nothing could come back.
            if (base->kind == DraftBase::Kind::Source) {
                const std::optional<FileStamp> now = stampOf(base->source.path);
                if (!now || now->size != base->source.size ||
                    now->modifiedNs != base->source.modifiedNs) {
                    damaged(setAside(
                        path, QStringLiteral("草稿记录的是对文件“%1”的修改，但该文件已被修改或删除")
                                  .arg(base->source.path)));
                    continue;
                }
            }
        }
        // The file a draft of edits was made to is read while the question
        // waits: the user takes longer to read it than a big file takes to
        // arrive, so a yes finds most of the file in.
        std::optional<std::optional<Error>> sourceRead;
        if (base && base->kind == DraftBase::Kind::Source) {
            m_askingTitle = h.title;
            sourceRead = beginSourceRead(*base);
        }
        const bool yes = wantsBack({h.title, h.saved.isValid() ? h.saved : info.lastModified()});
        m_askingTitle.clear();
        if (!yes) {
            if (sourceRead)
                dropSourceRead();
            putInDiscarded(path);
            continue;
        }
        if (draft.version < 2 && !Rtf::looksLikeRtf(draft.rtf)) {
            damaged(setAside(path, QStringLiteral("不是 RTF 文档")));
            continue;
        }
        if (base && base->kind == DraftBase::Kind::Source) {
            m_tellDamaged = damaged;
            if (const auto error =
                    startFromSource(path, std::move(lock), draft, *base, *sourceRead)) {
                damaged(setAside(path, error->why));
                continue;
            }
            return true;
        }
        if (const auto error = restore(draft, base)) {
            damaged(setAside(path, error->why));
            continue;
        }
        adopt(path, std::move(lock), draft);
        return true;
    }
    return false;
}

void DraftKeeper::adopt(const QString &path, std::unique_ptr<QLockFile> lock,
                        const DecodedDraft &draft)
{
    // The recovered draft becomes this window's own, so it survives another
    // crash before the next write; its journal goes on from its last whole
    // record.
    m_lock = std::move(lock);
    if (m_draftPath != path)
        QFile::remove(m_draftPath);
    m_draftPath = path;
    m_journal.restart();
    m_journal.setLargestRecord(compactionLimit());
    m_start = Start::None;
    if (draft.version >= 2 && QFile::resize(path, draft.wholeBytes)) {
        m_onDisk = true;
        m_journalBytes = recordBytes(draft.records);
    } else {
        m_onDisk = false;
        m_journal.requireSnapshot();
    }
}

std::optional<Error> DraftKeeper::restore(const DecodedDraft &draft,
                                          const std::optional<DraftBase> &base)
{
    const DraftHeader &h = draft.header;
    if (!base)
        return m_document.adoptRecovered(draft.rtf, h.title, h.path, h.encrypted, h.encoding);
    m_recovering = true;
    m_journal.setPaused(true);
    std::optional<Error> error;
    switch (base->kind) {
    case DraftBase::Kind::Empty:
        m_document.clear();
        break;
    case DraftBase::Kind::Source: // read in slices: startFromSource()
        error = Error{{}, QStringLiteral("草稿的起点不是快照")};
        break;
    case DraftBase::Kind::PlainText:
        if (const std::optional<QString> plain = plainTextOfBase(*base))
            m_document.adoptPlainText(*plain, base->softBreaks);
        else
            error = Error{{}, QStringLiteral("草稿中的文本无法解码")};
        break;
    case DraftBase::Kind::Rtf:
        error = m_document.adoptRecovered(base->bytes, h.title, h.path, h.encrypted, h.encoding);
        break;
    }
    return replayOnto(draft, *base, error);
}

// The document rebuilt from the draft's base (or `error` when it could not
// be): the edits replayed on it, and it taken as recovered; or, on an error,
// emptied.
std::optional<Error> DraftKeeper::replayOnto(const DecodedDraft &draft, const DraftBase &base,
                                             std::optional<Error> error)
{
    const DraftHeader &h = draft.header;
    if (!error) {
        QTextDocument &doc = text();
        const bool undo = doc.isUndoRedoEnabled();
        doc.setUndoRedoEnabled(false);
        error = replayDraftRecords(doc, draft.records);
        doc.setUndoRedoEnabled(undo);
        doc.clearUndoRedoStacks();
    }
    if (!error) {
        m_document.setKind(base.documentKind);
        m_document.markRecovered(h.title, h.path, h.encrypted, h.encoding);
    } else {
        m_document.new_(); // not a part of it: nothing, as before the question
    }
    m_recovering = false;
    m_journal.setPaused(false);
    if (error)
        restartJournal(); // from the empty document
    return error;
}

// Reads the file the draft's edits were made to as it was read when opened,
// through the loader: a big file arrives in slices (while the question
// waits, and after it). Meanwhile the journal records nothing and no draft is
// written (the window's own draft file stays unused). The Error when the file
// cannot be read.
std::optional<Error> DraftKeeper::beginSourceRead(const DraftBase &base)
{
    m_recovering = true;
    m_journal.setPaused(true);
    const SourceIdentity &want = base.source;
    return m_document.ReadTextFile(want.path,
                                   want.scrambled ? ReadMode::Scrambled : ReadMode::Text);
}

// The user did not want the draft: the file read for it goes, and the
// document is empty again, as before the question.
void DraftKeeper::dropSourceRead()
{
    m_document.clear();
    m_recovering = false;
    restartJournal();
}

// The user wants the draft whose file beginSourceRead() began to read
// (`readError` is what that gave): sourceLoaded() replays the edits once
// the file is in, at once if it is already.
std::optional<Error> DraftKeeper::startFromSource(const QString &path,
                                                  std::unique_ptr<QLockFile> lock,
                                                  const DecodedDraft &draft, const DraftBase &base,
                                                  const std::optional<Error> &readError)
{
    const SourceIdentity &want = base.source;
    if (readError)
        return replayOnto(draft, base,
                          Error{{},
                                QStringLiteral("草稿记录的是对文件“%1”的修改，"
                                               "但该文件已被修改或删除")
                                    .arg(want.path)});
    m_pending =
        std::make_unique<PendingRecovery>(PendingRecovery{path, std::move(lock), draft, base});
    if (!m_document.isLoading()) // small enough to have gone in at once
        sourceLoaded();
    return std::nullopt;
}

void DraftKeeper::sourceLoaded()
{
    if (!m_pending)
        return;
    // Taken first: emptying the document on a failure must not count as
    // the user giving the recovery up.
    const std::unique_ptr<PendingRecovery> pending = std::move(m_pending);
    if (const auto error = replayOnto(pending->draft, pending->base, checkSource(pending->base))) {
        const DamagedDraft damaged = setAside(pending->path, error->why);
        emit recoveryFinished(false);
        if (m_tellDamaged)
            m_tellDamaged(damaged);
        return;
    }
    adopt(pending->path, std::move(pending->lock), pending->draft);
    emit recoveryFinished(true);
}

QString DraftKeeper::recoveringTitle() const
{
    return m_pending ? m_pending->draft.header.title : m_askingTitle;
}

void DraftKeeper::abandonRecovery()
{
    if (!m_pending)
        return;
    // Its lock goes, the draft stays: offered again at the next start.
    m_pending.reset();
    m_recovering = false;
    restartJournal();
}

std::optional<Error> DraftKeeper::checkSource(const DraftBase &base) const
{
    const SourceIdentity &want = base.source;
    const std::optional<SourceIdentity> got = m_document.sourceIdentity();
    if (!got || got->size != want.size || got->hash != want.hash ||
        got->scrambled != want.scrambled)
        return Error{
            {},
            QStringLiteral("草稿记录的是对文件“%1”的修改，但该文件已被修改或删除").arg(want.path)};
    const QTextDocument &doc = text();
    if (doc.characterCount() != base.characters || doc.blockCount() != base.blocks ||
        m_document.loadedText().size() != base.textLength)
        return Error{{}, QStringLiteral("按文件“%1”重建的文档与草稿不符").arg(want.path)};
    return std::nullopt;
}

} // namespace Inkwell
