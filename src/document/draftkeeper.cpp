#include "document/draftkeeper.h"

#include "rtf/rtfreader.h"

#include "core/atomicfile.h"
#include "core/clock.h"
#include "core/messagehost.h"
#include "controls/richtextbox.h"
#include "document/documentstate.h"
#include "document/draftdirectory.h"
#include "document/draftfile.h"
#include "platform/codepage.h"
#include "rtf/rtfwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

#include <atomic>

namespace Inkwell {

namespace {

const QString boxTitle = QStringLiteral("Inkwell");
const QString productSuffix = QStringLiteral(" - Inkwell");
constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// A snapshot copies at most this many stale pieces on the spot; a bigger
// change (a paste, a file just read) is copied in slices between events first.
constexpr int maxStaleForSnapshot = 4;
constexpr std::chrono::milliseconds catchUpSlice{8};

int rtfCodePage(const TextEncoding &encoding)
{
    return encoding.kind == TextEncoding::Kind::Ansi && encoding.codePage ? encoding.codePage
                                                                          : CodePage::systemAnsi();
}

} // namespace

DraftKeeper::DraftKeeper(RichTextBox &Text1, DocumentState &document, MessageHost &messages,
                         const Clock &clock, const QString &directory, DraftTiming timing,
                         QObject *parent)
    : QObject(parent), m_text1(Text1), m_document(document), m_messages(messages), m_clock(clock),
      m_directory(directory), m_shadow(Text1.document())
{
    m_worker.setMaxThreadCount(1); // writes and deletions reach the disk in order
    m_idle.setSingleShot(true);
    m_idle.setInterval(timing.idle);
    m_longest.setSingleShot(true);
    m_longest.setInterval(timing.longest);
    m_catchUp.setSingleShot(true);
    m_catchUp.setInterval(0);
    connect(&m_idle, &QTimer::timeout, this, &DraftKeeper::writeDraft);
    connect(&m_longest, &QTimer::timeout, this, &DraftKeeper::writeDraft);
    connect(&m_catchUp, &QTimer::timeout, this, &DraftKeeper::writeDraft);

    QTextDocument *doc = Text1.document();
    connect(doc, &QTextDocument::contentsChange, this, &DraftKeeper::changed);
    connect(doc, &QTextDocument::modificationChanged, this, &DraftKeeper::modificationChanged);
    claimFreshDraft();
}

DraftKeeper::~DraftKeeper()
{
    m_idle.stop();
    m_longest.stop();
    m_catchUp.stop();
    m_worker.waitForDone();
}

bool DraftKeeper::claimFreshDraft()
{
    if (!QDir().mkpath(m_directory)) {
        m_lastError = QStringLiteral("无法创建草稿文件夹“%1”").arg(m_directory);
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
        m_lastError = QStringLiteral("无法锁定草稿文件“%1”").arg(m_draftPath);
        return false;
    }
    return true;
}

bool DraftKeeper::needsDraft() const
{
    // A file still arriving in slices is not an edit.
    return !m_closed && !m_document.isLoading() && m_text1.document()->isModified();
}

void DraftKeeper::changed()
{
    if (!needsDraft())
        return;
    m_idle.start();
    if (!m_longest.isActive())
        m_longest.start();
}

void DraftKeeper::modificationChanged(bool modified)
{
    if (modified) {
        changed();
        return;
    }
    // Saved, read, emptied or undone back to the file: the draft has nothing
    // the disk does not hold. Deleted behind any write still in progress.
    m_idle.stop();
    m_longest.stop();
    m_catchUp.stop();
    m_writeAgain = false;
    const QString path = m_draftPath;
    m_worker.start([this, path] {
        if (QFile::exists(path) && QFile::remove(path))
            QMetaObject::invokeMethod(this, &DraftKeeper::draftDeleted, Qt::QueuedConnection);
    });
}

QString DraftKeeper::title() const
{
    const QString caption = m_document.caption();
    return caption.endsWith(productSuffix) ? caption.chopped(productSuffix.size()) : caption;
}

void DraftKeeper::writeDraft()
{
    m_idle.stop();
    m_longest.stop();
    if (!needsDraft() || !m_lock || !m_lock->isLocked())
        return;
    if (m_writing) {
        m_writeAgain = true;
        return;
    }
    if (m_shadow.stalePieces() > maxStaleForSnapshot && !m_shadow.refresh(catchUpSlice)) {
        m_catchUp.start();
        return;
    }
    startWrite();
}

void DraftKeeper::startWrite()
{
    QElapsedTimer cost;
    cost.start();
    DocumentSnapshot snapshot = m_shadow.snapshot();
    m_lastSnapshotCost = cost.nsecsElapsed();

    DraftHeader header;
    header.title = title();
    header.path = m_document.lastPath();
    header.saved = m_clock.now();
    header.encoding = m_document.encoding();
    header.encrypted = m_document.isEncrypted();
    const int codePage = rtfCodePage(header.encoding);
    const QString path = m_draftPath;
    m_writing = true;
    // The worker reads only the snapshot, never the live document.
    m_worker.start([this, snapshot = std::move(snapshot), header, codePage, path] {
        QByteArray bytes;
        {
            const std::unique_ptr<QTextDocument> copy = buildDocument(snapshot);
            bytes = encodeDraft(header, Rtf::write(*copy, codePage));
        }
        QString why;
        // Private from the first byte: a draft is the user's unsaved text.
        if (const auto error = writeFileAtomically(path, bytes, NewFileAccess::OwnerOnly))
            why = error->why;
        QMetaObject::invokeMethod(
            this, [this, why] { written(why); }, Qt::QueuedConnection);
    });
}

void DraftKeeper::written(const QString &why)
{
    m_writing = false;
    m_lastError = why;
    if (why.isEmpty())
        emit draftWritten();
    else
        emit draftFailed(why); // the previous draft, if any, is still whole
    // A failed write is tried again even if no key is pressed any more.
    if (!why.isEmpty() && needsDraft() && !m_longest.isActive())
        m_longest.start();
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

void DraftKeeper::flush()
{
    m_idle.stop();
    m_longest.stop();
    settle(); // a write in progress, and the one it may have asked for
    settle();
    m_catchUp.stop();
    m_writeAgain = false;
    if (!m_writing && needsDraft() && m_lock && m_lock->isLocked())
        startWrite();
    settle();
}

void DraftKeeper::discard()
{
    m_closed = true;
    m_idle.stop();
    m_longest.stop();
    m_catchUp.stop();
    m_worker.waitForDone();
    QFile::remove(m_draftPath);
    m_lock.reset(); // unlocking removes the lock file
}

void DraftKeeper::setAside(const QString &path, const QString &why)
{
    QString target = path + QStringLiteral(".damaged");
    for (int n = 2; QFile::exists(target); ++n)
        target = path + QStringLiteral(".damaged-%1").arg(n);
    const bool moved = QFile::rename(path, target);
    m_messages.inform(QStringLiteral("上次未保存的文档草稿已损坏，无法恢复：%1。%2")
                          .arg(why, moved ? QStringLiteral("草稿已改名为“%1”。").arg(target)
                                          : QStringLiteral("草稿“%1”无法改名。").arg(path)),
                      boxTitle, MessageIcon::Exclamation);
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

bool DraftKeeper::recoverOrphans()
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
        DecodedDraft draft = decodeDraft(file.readAll());
        file.close();
        if (!draft.ok) {
            setAside(path, draft.why);
            continue;
        }
        const DraftHeader &h = draft.header;
        const QDateTime when = h.saved.isValid() ? h.saved : info.lastModified();
        const QString question =
            QStringLiteral("发现上次未保存的文档“%1”（%2）。是否恢复？")
                .arg(h.title, when.toLocalTime().toString(QStringLiteral("yyyy年M月d日 HH:mm")));
        // Yes is the default: Enter must not throw away the only copy of the work.
        if (m_messages.askYesNo(question, boxTitle, MessageIcon::Information, MessageAnswer::Yes) !=
            MessageAnswer::Yes) {
            putInDiscarded(path);
            continue;
        }
        if (!Rtf::looksLikeRtf(draft.rtf)) {
            setAside(path, QStringLiteral("不是 RTF 文档"));
            continue;
        }
        m_document.adoptRecovered(draft.rtf, h.title, h.path, h.encrypted, h.encoding);
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
