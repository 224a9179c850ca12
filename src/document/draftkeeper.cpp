#include "document/draftkeeper.h"

#include "core/atomicfile.h"
#include "core/clock.h"
#include "document/documentfile.h"
#include "document/documentstate.h"
#include "document/draftdirectory.h"
#include "document/draftfile.h"
#include "rtf/rtfreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

#include <algorithm>
#include <atomic>

namespace Inkwell {

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// A snapshot copies at most this many stale pieces on the spot; a bigger
// change (a paste, a file just read) is copied in slices between events first.
constexpr int maxStaleForSnapshot = 4;
constexpr std::chrono::milliseconds catchUpSlice{8};
// Restarts of a rich draft by edits before it is written in one go.
constexpr int maxRichRestarts = 3;

} // namespace

DraftKeeper::DraftKeeper(DocumentState &document, const Clock &clock, const QString &directory,
                         DraftTiming timing, QObject *parent)
    : QObject(parent), m_document(document), m_clock(clock), m_timing(timing),
      m_directory(directory), m_shadow(document.document())
{
    m_worker.setMaxThreadCount(1); // writes and deletions reach the disk in order
    m_tick.setSingleShot(true);
    m_catchUp.setSingleShot(true);
    m_catchUp.setInterval(0);
    connect(&m_tick, &QTimer::timeout, this, &DraftKeeper::tick);
    connect(&m_catchUp, &QTimer::timeout, this, &DraftKeeper::writeDraft);

    QTextDocument *doc = document.document();
    // A rich draft half written is of a document that is no more: it starts
    // again, with the change, once the events waiting are handled.
    connect(doc, &QTextDocument::contentsChange, this, [this] {
        if (m_richWriter) {
            m_richWriter.reset();
            ++m_richRestarts;
            m_catchUp.start();
        }
    });
    connect(doc, &QTextDocument::contentsChange, this, &DraftKeeper::changed);
    connect(doc, &QTextDocument::modificationChanged, this, &DraftKeeper::modificationChanged);
    claimFreshDraft();
}

DraftKeeper::~DraftKeeper()
{
    stopTiming();
    dropRichWrite();
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
    return !m_closed && !m_document.isLoading() && text().isModified();
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
    if (modified) {
        changed();
        return;
    }
    // Saved, read, emptied or undone back to the file: the draft has nothing
    // the disk does not hold. Deleted behind any write still in progress.
    stopTiming();
    dropRichWrite();
    m_richRestarts = 0;
    m_writeAgain = false;
    const QString path = m_draftPath;
    m_worker.start([this, path] {
        if (QFile::exists(path) && QFile::remove(path))
            QMetaObject::invokeMethod(this, &DraftKeeper::draftDeleted, Qt::QueuedConnection);
    });
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
    if (m_document.kind() == DocumentKind::Rich) {
        writeRichSlice();
        return;
    }
    m_richWriter.reset();
    if (m_shadow.stalePieces() > maxStaleForSnapshot && !m_shadow.refresh(catchUpSlice)) {
        m_catchUp.start();
        return;
    }
    startWrite();
}

// The shadow copies text and character formats only. A rich document
// (tables, lists, paragraph formats, kept groups) is written as RTF
// here instead, a slice at a time between events: such documents are of
// ordinary size, and a draft must bring back all of it.
void DraftKeeper::writeRichSlice()
{
    const TextEncoding encoding = m_document.encoding();
    if (m_richWriter && m_richEncoding != encoding)
        dropRichWrite();
    if (!m_richWriter) {
        m_richWriter = std::make_unique<Rtf::SlicedWriter>(text(), rtfCodePageFor(encoding));
        m_richEncoding = encoding;
        m_richLongestSlice = 0;
    }
    // Edits that keep coming faster than the slices must not put the
    // draft off for ever: after a few restarts it is written in one go.
    const bool whole = m_richRestarts >= maxRichRestarts;
    QElapsedTimer cost;
    cost.start();
    const bool done = m_richWriter->writeSome(
        whole ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(m_timing.slice));
    m_richLongestSlice = std::max(m_richLongestSlice, cost.nsecsElapsed());
    if (!done) {
        m_catchUp.start();
        return;
    }
    QByteArray rich = m_richWriter->take();
    m_richWriter.reset();
    m_richRestarts = 0;
    m_lastSnapshotCost = m_richLongestSlice;
    startWrite(std::move(rich));
}

void DraftKeeper::dropRichWrite()
{
    m_richWriter.reset();
    m_catchUp.stop();
}

void DraftKeeper::startWrite(std::optional<QByteArray> rich)
{
    DraftHeader header;
    header.title = m_document.shownTitle();
    header.path = m_document.lastPath();
    header.saved = m_clock.now();
    header.encoding = m_document.encoding();
    header.encrypted = m_document.isEncrypted();

    DocumentSnapshot snapshot;
    if (rich) {
        // Written in slices under the encoding it was begun with.
        header.encoding = m_richEncoding;
    } else {
        QElapsedTimer cost;
        cost.start();
        if (m_document.kind() == DocumentKind::Rich)
            rich = serialize(text(), header.encoding, FileFormat::Rtf).bytes;
        else
            snapshot = m_shadow.snapshot();
        m_lastSnapshotCost = cost.nsecsElapsed();
    }

    const QString path = m_draftPath;
    m_writing = true;
    // The worker reads only the snapshot, never the live document.
    m_worker.start([this, snapshot = std::move(snapshot), rich = std::move(rich), header, path] {
        QByteArray bytes;
        if (rich) {
            bytes = encodeDraft(header, *rich);
        } else {
            const std::unique_ptr<QTextDocument> copy = buildDocument(snapshot);
            // The same RTF a save under the document's encoding writes.
            bytes = encodeDraft(header, serialize(*copy, header.encoding, FileFormat::Rtf).bytes);
        }
        // Private from the first byte: a draft is the user's unsaved text.
        std::optional<Error> error = writeFileAtomically(path, bytes, NewFileAccess::OwnerOnly);
        if (error)
            error->what = QStringLiteral("无法保存草稿“%1”").arg(path);
        QMetaObject::invokeMethod(
            this, [this, error] { written(error); }, Qt::QueuedConnection);
    });
}

void DraftKeeper::written(const std::optional<Error> &failure)
{
    m_writing = false;
    // A failed write leaves the previous draft, if any, whole.
    m_lastWrite = failure;
    if (!failure)
        emit draftWritten();
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
    dropRichWrite();
    m_writeAgain = false;
    if (!m_lock || !m_lock->isLocked())
        return m_claimFailure;
    m_lastWrite.reset();
    if (!m_writing && needsDraft())
        startWrite();
    settle();
    return m_lastWrite;
}

void DraftKeeper::discard()
{
    m_closed = true;
    stopTiming();
    dropRichWrite();
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
        if (!wantsBack({h.title, h.saved.isValid() ? h.saved : info.lastModified()})) {
            putInDiscarded(path);
            continue;
        }
        if (!Rtf::looksLikeRtf(draft.rtf)) {
            damaged(setAside(path, QStringLiteral("不是 RTF 文档")));
            continue;
        }
        if (const auto error =
                m_document.adoptRecovered(draft.rtf, h.title, h.path, h.encrypted, h.encoding)) {
            damaged(setAside(path, error->why));
            continue;
        }
        // The recovered draft becomes this window's own, so it survives
        // another crash before the next write.
        m_lock = std::move(lock);
        if (m_draftPath != path)
            QFile::remove(m_draftPath);
        m_draftPath = path;
        return true;
    }
    return false;
}

} // namespace Inkwell
