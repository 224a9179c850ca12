#include "document/documentstate.h"

#include "controls/commondialog.h"
#include "controls/richtextbox.h"
#include "core/atomicfile.h"
#include "core/documenttext.h"
#include "core/product.h"

#include <QFileInfo>
#include <QTextDocument>

namespace Inkwell {

namespace {

const QString &untitledCaption = Product::untitledCaption;
const QString &boxTitle = Product::messageTitle;

QString titleOf(const QString &path)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(slash + 1);
}

} // namespace

DocumentState::DocumentState(RichTextBox &editor, CommonDialog &fileDialog,
                             CommonDialog &scrambledFileDialog, MessageHost &messages,
                             QObject *parent)
    : QObject(parent), m_editor(editor), m_fileDialog(fileDialog),
      m_scrambledFileDialog(scrambledFileDialog), m_messages(messages), m_caption(untitledCaption)
{
    connect(&m_loader, &TextLoader::progress, this, &DocumentState::onLoadProgress);
    connect(&m_loader, &TextLoader::finished, this, &DocumentState::onLoadFinished);
}

QString DocumentState::captionFor(const QString &title)
{
    return title + Product::captionSuffix;
}

void DocumentState::setCaption(const QString &caption)
{
    m_caption = caption;
    emit captionChanged(caption);
}

void DocumentState::markUnchanged()
{
    // The editor may normalise what it was given (line breaks, markup), so
    // the baseline is what it holds, not what was handed to it.
    m_loadedText = m_editor.Text();
    m_loadedText.takeFormats(*m_editor.document());
    m_editor.document()->setModified(false);
    m_recovered = false;
}

void DocumentState::clear()
{
    replaceContent();
    markUnchanged();
}

bool DocumentState::DocumentChanged() const
{
    if (m_recovered)
        return true;
    // A file still arriving in slices is read-only and unchanged.
    if (m_loader.isLoading())
        return false;
    // Not modified since the baseline was taken (undo back to it included):
    // text and formats are as they were, no need to compare millions of characters.
    if (!m_editor.document()->isModified())
        return false;
    // A font, a colour or a picture changed is as much a change as a letter
    // typed; the formats are compared only once the texts are equal.
    return !m_loadedText.matches(m_editor.Text()) ||
           !m_loadedText.formatsMatch(*m_editor.document());
}

MessageAnswer DocumentState::SaveChangesPrompt()
{
    return m_messages.askYesNoCancel(QStringLiteral("文件内容已经改变，是否保存？"), boxTitle);
}

DocumentState::Outcome DocumentState::mayDiscard()
{
    if (!DocumentChanged())
        return {true, std::nullopt};
    switch (SaveChangesPrompt()) {
    case MessageAnswer::Yes: {
        Saved saved = save();
        return {saved.result == SaveResult::Saved, std::move(saved.failure)};
    }
    case MessageAnswer::No:
        return {true, std::nullopt};
    default:
        return {false, std::nullopt};
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
    if (!m_editor.hasFormatting())
        return true;
    return m_messages.askYesNo(
               QStringLiteral("保存为纯文本格式将丢失文档中的图片和格式。仍要保存吗？"), boxTitle,
               MessageIcon::Exclamation) == MessageAnswer::Yes;
}

DocumentState::Saved DocumentState::save()
{
    if (m_fileDialog.ShowSave() == cdlCancel)
        return {SaveResult::Cancelled, std::nullopt};
    return saveTo(m_fileDialog.FileName, m_fileDialog.FileTitle());
}

DocumentState::Saved DocumentState::saveTo(const QString &path, const QString &fileTitle)
{
    m_loader.finish();
    const FileFormat format = saveFormatFor(fileTitle);
    if (format != FileFormat::Rtf && !confirmFormatLoss())
        return {SaveResult::Cancelled, std::nullopt};
    const Serialized file = serialize(*m_editor.document(), m_encoding, format);
    if (!confirmLossySave(fileTitle, file.lossless))
        return {SaveResult::Cancelled, std::nullopt};
    if (const auto error = writeDocument(path, file))
        return {SaveResult::Failed, saveError(path, *error)};
    m_undecodable = false;
    m_loadedTitle = fileTitle;
    m_lastPath = path;
    m_encrypted = format == FileFormat::Scrambled;
    markUnchanged();
    setCaption(captionFor(fileTitle));
    return {SaveResult::Saved, std::nullopt};
}

std::optional<Error> DocumentState::new_()
{
    if (DocumentChanged()) {
        switch (SaveChangesPrompt()) {
        case MessageAnswer::Yes: {
            Saved saved = save();
            if (saved.result != SaveResult::Saved)
                return std::move(saved.failure);
            break;
        }
        case MessageAnswer::No:
            break;
        default:
            return std::nullopt;
        }
    }
    replaceContent();
    m_encoding = TextEncoding::forNewDocument();
    m_undecodable = false;
    m_loadedTitle.clear();
    m_lastPath.clear();
    m_encrypted = false;
    // The empty document is the new baseline, so an untouched new document
    // never asks to be saved.
    markUnchanged();
    setCaption(untitledCaption);
    return std::nullopt;
}

void DocumentState::replaceContent()
{
    if (m_loader.isLoading()) {
        m_loader.cancel();
        m_editor.setReadOnly(m_wasReadOnly);
    }
    m_pictures = {};
    m_keptDropped = 0;
    m_editor.setText(QString());
    setParagraphDirection(*m_editor.document(), Qt::LayoutDirectionAuto);
    // Emptied first: the view changes cheaply while there is nothing to lay out.
    m_editor.setView(RichTextBox::View::Fast);
}

void DocumentState::loadRtf(const QByteArray &bytes)
{
    // Read while no view shows the document: the rich view lays out each
    // change as it comes, and either would lay out a long paragraph whole
    // before it is held in pieces (a paragraph of 20 MB: minutes).
    m_editor.changeDetached([&] {
        QTextDocument &document = *m_editor.document();
        const ParsedRtf parsed = parseRtf(bytes, document);
        m_pictures = parsed.pictures;
        m_keptDropped = parsed.keptDropped;
        // The rich view's layout costs grow with the document (a keystroke
        // at the start of 0.6 M characters costs 8 ms, of 2.9 M 56 ms) and
        // with the paragraph typed in; the fast view's do not, and it holds
        // a long paragraph in pieces. A long RTF, or one with a long
        // paragraph, holding nothing but character formats and pictures
        // looks the same in the fast view, so it goes there.
        const bool rich =
            RichTextBox::needsRichView(document) ||
            (document.characterCount() <= richViewChars && !RichTextBox::hasLongParagraph(document));
        if (!rich)
            breakLongParagraphs(document);
        document.clearUndoRedoStacks();
        return rich ? RichTextBox::View::Rich : RichTextBox::View::Fast;
    });
    m_editor.setSelStart(0);
}

std::optional<Error> DocumentState::ReadTextFile(const QString &path, ReadMode mode)
{
    DocumentBytes file = readDocumentFile(path, mode, m_readLimit);
    if (file.error)
        return file.error;
    replaceContent(); // an RTF's view is chosen once it is read
    m_loadedTitle = titleOf(path);
    if (file.rich) {
        loadRtf(file.bytes);
        m_encoding = TextEncoding::forNewDocument();
        m_undecodable = false;
        markUnchanged();
        reportHeldBackPictures();
        return std::nullopt;
    }
    // A big file arrives in slices; the editor is read-only until the last
    // one is in, and onLoadFinished() takes the baseline.
    m_wasReadOnly = m_editor.isReadOnly();
    m_editor.setReadOnly(true);
    m_loader.start(file.bytes, *m_editor.document(), m_editor.defaultCharFormat());
    return std::nullopt;
}

void DocumentState::finishLoading()
{
    m_loader.finish();
}

void DocumentState::onLoadProgress(qint64 done, qint64 total, bool first)
{
    // The caret shared the insertion point of the first slice and moved with
    // it; a loaded document starts with the caret at its beginning.
    if (first)
        m_editor.setSelStart(0);
    emit loadProgress(done, total);
}

void DocumentState::onLoadFinished()
{
    TextLoader::Loaded loaded = m_loader.take();
    m_editor.setReadOnly(m_wasReadOnly);
    m_encoding = loaded.encoding;
    m_undecodable = !loaded.clean;
    // The editor holds exactly the text decoded unless that text held
    // paragraph or frame marks; only then is the baseline read back.
    if (loaded.hadMarks)
        m_loadedText = m_editor.Text();
    else
        m_loadedText = std::move(loaded.baseline);
    m_loadedText.takeFormats(*m_editor.document());
    m_editor.document()->setModified(false);
    m_recovered = false;
    emit loadFinished();
}

std::optional<Error> DocumentState::openFile(const QString &path, ReadMode mode)
{
    if (auto error = ReadTextFile(path, mode))
        return error;
    rememberSource(path, mode == ReadMode::Scrambled);
    setCaption(captionFor(titleOf(path)));
    return std::nullopt;
}

std::optional<Error> DocumentState::open()
{
    Outcome discard = mayDiscard();
    if (!discard.done)
        return std::move(discard.failure);
    if (m_fileDialog.ShowOpen() == cdlCancel)
        return std::nullopt;
    return openFile(m_fileDialog.FileName, ReadMode::Text);
}

std::optional<Error> DocumentState::opensafe()
{
    Outcome discard = mayDiscard();
    if (!discard.done)
        return std::move(discard.failure);
    if (m_scrambledFileDialog.ShowOpen() == cdlCancel)
        return std::nullopt;
    return openFile(m_scrambledFileDialog.FileName, ReadMode::Scrambled);
}

std::optional<Error> DocumentState::openDropped(const QString &path)
{
    Outcome discard = mayDiscard();
    if (!discard.done)
        return std::move(discard.failure);
    // The next save dialog offers the dropped file, as after a dialog choice.
    m_fileDialog.FileName = path;
    return openFile(path, ReadMode::Text);
}

void DocumentState::rememberSource(const QString &path, bool encrypted)
{
    m_lastPath = path;
    m_encrypted = encrypted;
    m_recovered = false;
}

void DocumentState::adoptRecovered(const QByteArray &rtf, const QString &title, const QString &path,
                                   bool encrypted, const TextEncoding &encoding)
{
    replaceContent(); // the view is chosen once it is read
    loadRtf(rtf);
    m_encoding = encoding;
    m_undecodable = false;
    m_loadedTitle = title;
    rememberSource(path, encrypted);
    m_recovered = true;
    m_editor.document()->setModified(true);
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

std::optional<Error> DocumentState::openCommandLine(const QStringList &arguments)
{
    const QString path = pathFromCommandLine(arguments);
    if (path.isEmpty())
        return std::nullopt;
    return openFile(path, ReadMode::Text);
}

void DocumentState::setReadLimit(qint64 bytes)
{
    m_readLimit = bytes;
}

void DocumentState::reportHeldBackPictures()
{
    if (const QString held = DocumentImages::heldBackMessage(m_pictures); !held.isEmpty())
        m_messages.inform(held, boxTitle, MessageIcon::Exclamation);
    // What is cut here cannot come back with a save: the user must know
    // before saving over the file.
    if (m_keptDropped > 0)
        m_messages.inform(
            QStringLiteral("文档中未显示的内容（页眉、页脚、脚注等）过多，超出部分保存时不会保留。"),
            boxTitle, MessageIcon::Exclamation);
}

} // namespace Inkwell
