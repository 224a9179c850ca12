#include "document/documentstate.h"

#include "core/atomicfile.h"
#include "controls/commondialog.h"
#include "core/regularfile.h"
#include "controls/richtextbox.h"
#include "core/systemerror.h"
#include "document/bytescramble.h"
#include "rtf/rtfreader.h"

#include <QFileInfo>
#include <QTextDocument>

namespace Inkwell {

namespace {

const QString productSuffix = QStringLiteral(" - Inkwell");
const QString untitledCaption = QStringLiteral("无标题 - Inkwell");
const QString boxTitle = QStringLiteral("Inkwell");

struct FileBytes {
    bool ok = false;
    QByteArray bytes;
    QString why;
};

// Reads the whole file; a path that names no file is created empty there,
// as the editor always has. Only regular files within the limit are read.
FileBytes readWholeFile(const QString &path, qint64 limit)
{
    FileBytes out;
    FileContent content = readRegularFile(path, limit, true);
    if (content.error) {
        out.why = content.error->why;
        return out;
    }
    out.bytes = std::move(content.bytes);
    out.ok = true;
    return out;
}

QString titleOf(const QString &path)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(slash + 1);
}

} // namespace

DocumentState::DocumentState(RichTextBox &Text1, CommonDialog &openuse, CommonDialog &safeuse,
                             MessageHost &messages, QObject *parent)
    : QObject(parent), m_text1(Text1), m_openuse(openuse), m_safeuse(safeuse),
      m_messages(messages), m_caption(untitledCaption)
{
    connect(&m_text1, &RichTextBox::loadFinished, this, &DocumentState::onLoadFinished);
}

QString DocumentState::captionFor(const QString &title)
{
    return title + productSuffix;
}

void DocumentState::setCaption(const QString &caption)
{
    m_caption = caption;
    emit captionChanged(caption);
}

void DocumentState::markUnchanged()
{
    // The control may normalise what it was given (line breaks, markup), so
    // the baseline is what it reports back, not what was handed to it.
    LoadedText = m_text1.Text();
    LoadedText.takeFormats(*m_text1.document());
    m_text1.document()->setModified(false);
    m_recovered = false;
}

bool DocumentState::DocumentChanged() const
{
    if (m_recovered)
        return true;
    // A file still arriving in slices is read-only and unchanged.
    if (m_text1.isLoading())
        return false;
    // Not modified since the baseline was taken (undo back to it included):
    // text and formats are as they were, no need to compare millions of characters.
    if (!m_text1.document()->isModified())
        return false;
    // A font, a colour or a picture changed is as much a change as a letter
    // typed; the formats are compared only once the texts are equal.
    return !LoadedText.matches(m_text1.Text()) || !LoadedText.formatsMatch(*m_text1.document());
}

MessageAnswer DocumentState::SaveChangesPrompt()
{
    return m_messages.askYesNoCancel(QStringLiteral("文件内容已经改变，是否保存？"), boxTitle);
}

bool DocumentState::mayDiscard()
{
    if (!DocumentChanged())
        return true;
    switch (SaveChangesPrompt()) {
    case MessageAnswer::Yes: return save() == SaveResult::Saved;
    case MessageAnswer::No: return true;
    default: return false;
    }
}

bool DocumentState::confirmLossySave(const QString &fileTitle, bool lossless)
{
    if (m_undecodable) {
        const QString text =
            QStringLiteral("文件“%1”含有无法按当前编码识别的字节，保存会改变这些字节。仍要保存吗？")
                .arg(m_loadedTitle.isEmpty() ? fileTitle : m_loadedTitle);
        if (m_messages.askYesNo(text, boxTitle, MessageIcon::Exclamation) != MessageAnswer::Yes)
            return false;
    }
    if (!lossless) {
        const QString text =
            QStringLiteral("文档中有字符无法按当前编码保存到“%1”，这些字符会变成“?”。仍要保存吗？")
                .arg(fileTitle);
        if (m_messages.askYesNo(text, boxTitle, MessageIcon::Exclamation) != MessageAnswer::Yes)
            return false;
    }
    return true;
}

bool DocumentState::confirmFormatLoss()
{
    // Plain text keeps the characters only; say so before the fonts,
    // colours and pictures the editor still shows are dropped from the file.
    if (!m_text1.hasFormatting())
        return true;
    return m_messages.askYesNo(
               QStringLiteral("保存为纯文本格式将丢失文档中的图片和格式。仍要保存吗？"), boxTitle,
               MessageIcon::Exclamation) == MessageAnswer::Yes;
}

void DocumentState::reportSaveFailure(const QString &path, const QString &why)
{
    m_messages.inform(QStringLiteral("无法保存文件“%1”：%2").arg(shortenedPath(path), why),
                      boxTitle, MessageIcon::Exclamation);
}

DocumentState::SaveResult DocumentState::save()
{
    if (m_openuse.ShowSave() == cdlCancel)
        return SaveResult::Cancelled;
    m_text1.finishLoading();
    const QString path = m_openuse.FileName;
    const QString title = m_openuse.FileTitle();
    const QString ending = title.right(3).toLower();

    const bool plain = ending == u"txt" || ending == u"stx";
    if (plain && !confirmFormatLoss())
        return SaveResult::Cancelled;
    QByteArray bytes;
    bool lossless = true;
    if (plain) {
        bytes = m_text1.fileBytes(RichTextBox::rtfText, &lossless);
        if (ending == u"stx")
            scrambleInPlace(bytes); // in memory: the plain text never reaches the disk
    } else {
        bytes = m_text1.fileBytes(RichTextBox::rtfRTF);
    }
    if (!confirmLossySave(title, lossless))
        return SaveResult::Cancelled;
    if (const auto error = writeFileAtomically(path, bytes)) {
        reportSaveFailure(path, error->why);
        return SaveResult::Failed;
    }
    m_undecodable = false;
    m_loadedTitle = title;
    m_lastPath = path;
    m_encrypted = ending == u"stx";
    markUnchanged();
    setCaption(captionFor(title));
    return SaveResult::Saved;
}

void DocumentState::new_()
{
    if (DocumentChanged()) {
        switch (SaveChangesPrompt()) {
        case MessageAnswer::Yes:
            if (save() != SaveResult::Saved)
                return;
            break;
        case MessageAnswer::No: break;
        default: return;
        }
    }
    m_text1.setText(QString());
    m_text1.setTextEncoding(TextEncoding::forNewDocument());
    m_undecodable = false;
    m_loadedTitle.clear();
    m_lastPath.clear();
    m_encrypted = false;
    // The empty document is the new baseline, so an untouched new document
    // never asks to be saved.
    markUnchanged();
    setCaption(untitledCaption);
}

bool DocumentState::ReadTextFile(const QString &path, ReadMode mode)
{
    const FileBytes file = readWholeFile(path, m_readLimit);
    if (!file.ok) {
        m_messages.inform(QStringLiteral("无法打开文件“%1”：%2").arg(shortenedPath(path), file.why),
                          boxTitle, MessageIcon::Exclamation);
        return false;
    }
    QByteArray bytes = file.bytes;
    if (mode == ReadMode::Scrambled)
        scrambleInPlace(bytes);

    if (mode == ReadMode::Text && Rtf::looksLikeRtf(bytes)) {
        QString why;
        if (!m_text1.loadRtf(bytes, &why)) {
            m_messages.inform(QStringLiteral("无法打开文件“%1”：%2").arg(shortenedPath(path), why),
                              boxTitle, MessageIcon::Exclamation);
            return false;
        }
        m_text1.setTextEncoding(TextEncoding::forNewDocument());
        m_undecodable = false;
        reportHeldBackPictures();
    } else {
        m_loadedTitle = titleOf(path);
        m_textLoadPending = true;
        m_text1.loadTextFile(bytes); // onLoadFinished() completes the baseline
        return true;
    }
    m_loadedTitle = titleOf(path);
    markUnchanged();
    return true;
}

void DocumentState::onLoadFinished()
{
    if (!m_textLoadPending)
        return;
    m_textLoadPending = false;
    RichTextBox::LoadedFile file = m_text1.takeLoadedFile();
    m_undecodable = !file.clean;
    // The control reports exactly the text it was handed unless that text
    // held paragraph or frame marks; only then is the baseline read back.
    if (file.hadMarks)
        LoadedText = m_text1.Text();
    else
        LoadedText = std::move(file.baseline);
    LoadedText.takeFormats(*m_text1.document());
    m_text1.document()->setModified(false);
}

void DocumentState::open()
{
    if (!mayDiscard())
        return;
    if (m_openuse.ShowOpen() == cdlCancel)
        return;
    const QString title = m_openuse.FileTitle();
    if (ReadTextFile(m_openuse.FileName)) {
        rememberSource(m_openuse.FileName, false);
        setCaption(captionFor(title));
    }
}

void DocumentState::opensafe()
{
    if (!mayDiscard())
        return;
    if (m_safeuse.ShowOpen() == cdlCancel)
        return;
    const QString title = m_safeuse.FileTitle();
    if (ReadTextFile(m_safeuse.FileName, ReadMode::Scrambled)) {
        rememberSource(m_safeuse.FileName, true);
        setCaption(captionFor(title));
    }
}

void DocumentState::openDropped(const QString &path)
{
    if (!mayDiscard())
        return;
    // The next save dialog offers the dropped file, as after a dialog choice.
    m_openuse.FileName = path;
    if (ReadTextFile(path)) {
        rememberSource(path, false);
        setCaption(captionFor(titleOf(path)));
    }
}

void DocumentState::rememberSource(const QString &path, bool encrypted)
{
    m_lastPath = path;
    m_encrypted = encrypted;
    m_recovered = false;
}

void DocumentState::adoptRecovered(const QString &title, const QString &path, bool encrypted)
{
    m_undecodable = false;
    m_loadedTitle = title;
    rememberSource(path, encrypted);
    m_recovered = true;
    m_text1.document()->setModified(true);
    setCaption(captionFor(title));
}

QString DocumentState::pathFromCommandLine(const QStringList &arguments)
{
    // A name is taken as written when it names something: a file may end in
    // a blank or hold quotes. The whole line first (a path with blanks the
    // shell split), then each argument alone.
    const QString whole = arguments.join(u' ');
    if (!whole.isEmpty() && QFileInfo::exists(whole))
        return whole;
    for (const QString &argument : arguments) {
        if (!argument.isEmpty() && QFileInfo::exists(argument))
            return argument;
    }
    // Nothing named as written: blanks around the line and one pair of
    // enclosing quotes are removed, as some launchers add them.
    QString path = whole.trimmed();
    if (path.size() >= 2 && path.startsWith(u'"') && path.endsWith(u'"'))
        path = path.mid(1, path.size() - 2);
    return path;
}

void DocumentState::openCommandLine(const QStringList &arguments)
{
    const QString path = pathFromCommandLine(arguments);
    if (path.isEmpty())
        return;
    if (ReadTextFile(path)) {
        rememberSource(path, false);
        setCaption(captionFor(titleOf(path)));
    }
}

void DocumentState::setReadLimit(qint64 bytes)
{
    m_readLimit = bytes;
}

void DocumentState::reportHeldBackPictures()
{
    if (m_text1.pictureUse().heldBack > 0)
        m_messages.inform(
            QStringLiteral("文档中的图片太多，部分图片以占位框显示；保存时图片会原样保留。"),
            boxTitle, MessageIcon::Exclamation);
}

} // namespace Inkwell
