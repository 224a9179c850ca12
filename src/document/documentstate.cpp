#include "document/documentstate.h"

#include "core/atomicfile.h"
#include "core/contenthash.h"
#include "core/documenttext.h"
#include "core/localpath.h"
#include "core/product.h"
#include "document/plaintextwriter.h"

#include <QFileInfo>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

namespace Inkwell {

namespace {

QString titleOf(const QString &path)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(slash + 1);
}

Question yesNo(Question::Topic topic, const QString &text)
{
    return Question{topic, text, false, MessageAnswer::No, MessageIcon::Exclamation};
}

// Two names of one file, as far as the names tell (a relative name from the
// command line, an absolute one from the dialog).
bool samePath(const QString &a, const QString &b)
{
    return !a.isEmpty() && !b.isEmpty() &&
           QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

} // namespace

DocumentState::DocumentState(QObject *parent) : QObject(parent), m_document(new QTextDocument(this))
{
    // A document with no layout reports no contentsChange, which the drafts
    // follow: until a view gives it its own, it has Qt's default one.
    m_document->documentLayout();
    connect(&m_loader, &TextLoader::progress, this, &DocumentState::loadProgress);
    connect(&m_loader, &TextLoader::finished, this, &DocumentState::onLoadFinished);
}

DocumentState::~DocumentState() = default;

void DocumentState::setKind(DocumentKind kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    emit kindChanged(kind);
}

QString DocumentState::captionFor(const QString &title)
{
    return title + Product::captionSuffix;
}

QString DocumentState::caption() const
{
    return m_title.isEmpty() ? Product::untitledCaption : captionFor(displayPath(m_title));
}

QString DocumentState::shownTitle() const
{
    return m_title.isEmpty() ? Product::untitledCaption.chopped(Product::captionSuffix.size())
                             : displayPath(m_title);
}

void DocumentState::name(const QString &title, const QString &path, bool encrypted)
{
    m_title = title;
    m_lastPath = path;
    m_encrypted = encrypted;
    emit captionChanged(caption());
}

void DocumentState::markUnchanged()
{
    // The document may normalise what it was given (line breaks, markup),
    // so the baseline is what it holds, not what was handed to it.
    TextBaseline text;
    text.takeText(*m_document);
    markUnchanged(std::move(text));
}

void DocumentState::markUnchanged(TextBaseline written)
{
    m_loadedText = std::move(written);
    m_loadedText.takeFormats(*m_document);
    m_document->setModified(false);
    m_recovered = false;
}

void DocumentState::clear()
{
    replaceContent();
    m_source = Source::New;
    m_fromEncrypted = false;
    m_diskStamp.reset();
    m_toldStamp.reset();
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
    if (!m_document->isModified())
        return false;
    // A font, a colour or a picture changed is as much a change as a letter
    // typed; the formats are compared only once the texts are equal.
    return !m_loadedText.matches(*m_document) || !m_loadedText.formatsMatch(*m_document);
}

Question DocumentState::saveChangesQuestion()
{
    return Question{Question::Topic::SaveChanges, QStringLiteral("文件内容已经改变，是否保存？"),
                    true, MessageAnswer::Yes, MessageIcon::Exclamation};
}

const Serialized &DocumentState::bytesFor(SaveRequest &request, FileFormat format)
{
    // Made again if the document changed while a question was open.
    if (!request.m_file || request.m_revision != m_document->revision()) {
        request.m_file = serialize(*m_document, m_encoding, format);
        request.m_revision = m_document->revision();
    }
    return *request.m_file;
}

std::optional<Question> DocumentState::saveQuestion(SaveRequest &request, FileFormat format)
{
    const QString fileTitle = displayPath(request.fileTitle()); // for the questions' text
    const bool plain = format != FileFormat::Rtf;
    using Topic = Question::Topic;
    // Scrambled text saved where nothing scrambles it.
    const bool leavesEncryption = m_fromEncrypted && format != FileFormat::Scrambled;
    // Plain text (read from a text file, or new and unformatted) written as
    // RTF under a name that does not say so. An encrypted document's own
    // question comes first and says enough: one question per save.
    const bool becomesRtf =
        !plain && !leavesEncryption && fileTitle.right(3).toLower() != u"rtf" &&
        (m_source == Source::Text || ((m_source == Source::New || m_source == Source::Recovered) &&
                                      !hasFormatting(*m_document, m_kind, m_plainFormat)));
    // Each row: a question and whether this save must ask it, in the order
    // asked. A question agreed to on the request is not asked again.
    const struct {
        Topic topic;
        std::function<std::optional<Question>()> ask;
    } rows[] = {
        // Another program's change to the file would be lost. A file removed
        // since loses nothing: the save puts it back without a word.
        {Topic::ChangedOnDisk,
         [&]() -> std::optional<Question> {
             if (!savesOverOwnFile(request.path()) || diskState() != DiskState::Changed)
                 return std::nullopt;
             m_toldStamp = stampOf(m_lastPath);
             return yesNo(Topic::ChangedOnDisk,
                          QStringLiteral("文件“%1”在打开后已被其他程序修改。覆盖将丢失那些修改。"
                                         "仍要保存吗？")
                              .arg(m_title));
         }},
        {Topic::EncryptedToClear,
         [&]() -> std::optional<Question> {
             if (!leavesEncryption)
                 return std::nullopt;
             return yesNo(
                 Topic::EncryptedToClear,
                 QStringLiteral("此文档来自加密文件，保存为该格式将不再加密。仍要保存吗？"));
         }},
        {Topic::PlainBecomesRtf,
         [&]() -> std::optional<Question> {
             if (!becomesRtf)
                 return std::nullopt;
             return yesNo(
                 Topic::PlainBecomesRtf,
                 QStringLiteral("“%1”将以RTF格式保存，其他程序将无法按纯文本读取。仍要保存吗？")
                     .arg(fileTitle));
         }},
        // Plain text keeps the characters only; say so before the fonts,
        // colours and pictures the document still holds are dropped.
        {Topic::FormatLoss,
         [&]() -> std::optional<Question> {
             if (!plain || !hasFormatting(*m_document, m_kind, m_plainFormat))
                 return std::nullopt;
             return yesNo(Topic::FormatLoss,
                          QStringLiteral("保存为纯文本格式将丢失文档中的图片和格式。仍要保存吗？"));
         }},
        {Topic::UndecodableBytes,
         [&]() -> std::optional<Question> {
             // Turned into RTF, the file changes whole, as its question said.
             if (!m_undecodable || becomesRtf)
                 return std::nullopt;
             return yesNo(
                 Topic::UndecodableBytes,
                 QStringLiteral("文件“%1”含有无法按当前编码识别的字节，保存会改变这些字节。"
                                "仍要保存吗？")
                     .arg(m_title.isEmpty() ? fileTitle : displayPath(m_title)));
         }},
        // A plain save finds such characters while it writes (savePlain).
        {Topic::UnencodableCharacters,
         [&]() -> std::optional<Question> {
             if (plain || bytesFor(request, format).lossless)
                 return std::nullopt;
             return unencodableQuestion(fileTitle);
         }},
    };
    for (const auto &row : rows) {
        if (request.agreed(row.topic))
            continue;
        if (std::optional<Question> question = row.ask())
            return question;
    }
    return std::nullopt;
}

Question DocumentState::unencodableQuestion(const QString &fileTitle)
{
    return yesNo(Question::Topic::UnencodableCharacters,
                 QStringLiteral("文档中有字符无法按当前编码保存到“%1”，这些字符会变成“?”。"
                                "仍要保存吗？")
                     .arg(fileTitle));
}

Result<std::optional<Question>> DocumentState::save(SaveRequest &request)
{
    m_loader.finish();
    const FileFormat format = saveFormatFor(request.fileTitle());
    if (std::optional<Question> question = saveQuestion(request, format))
        return question;
    if (format != FileFormat::Rtf)
        return savePlain(request, format);
    const Serialized &file = bytesFor(request, format);
    if (const auto error = writeDocument(request.path(), file))
        return saveError(request.path(), *error);
    m_written = WrittenFile{request.path(), file.bytes.size(), contentHash(file.bytes)};
    saved(request, format, stampOf(request.path(), file.bytes), file.lossless);
    markUnchanged();
    name(request.fileTitle(), request.path(), false);
    return std::optional<Question>();
}

Result<std::optional<Question>> DocumentState::savePlain(SaveRequest &request, FileFormat format)
{
    // Written straight from the paragraphs. The question about characters
    // the encoding lacks comes from the write itself: it stops before the
    // file is replaced, and after a yes the document is written again.
    PlainTextWriter writer(*m_document, m_encoding, format);
    writer.setStopWhenLossy(!request.agreed(Question::Topic::UnencodableCharacters));
    const int revision = m_document->revision();
    writer.setProgress([this](qint64 done, qint64 total) { emit saveProgress(done, total); });
    m_savingTo = displayPath(request.fileTitle());
    emit savingChanged(true);
    const Result<bool> written = writeFileAtomically(request.path(), writer, writer.access());
    m_savingTo.clear();
    emit savingChanged(false);
    if (!written.ok())
        return saveError(request.path(), written.error());
    if (!written.value())
        return std::optional<Question>(unencodableQuestion(displayPath(request.fileTitle())));
    m_written = WrittenFile{request.path(), writer.written().size(), writer.written().value()};
    std::optional<FileStamp> stamp = stampOf(request.path());
    if (stamp)
        stamp->checksum = writer.checksum();
    saved(request, format, std::move(stamp), writer.lossless());
    // The text written is the baseline; should the document have changed
    // meanwhile after all, it now differs from it, as it does from the file.
    markUnchanged(writer.takeBaseline());
    if (m_document->revision() != revision)
        m_document->setModified(true);
    name(request.fileTitle(), request.path(), format == FileFormat::Scrambled);
    return std::optional<Question>();
}

void DocumentState::saved(SaveRequest &request, FileFormat format, std::optional<FileStamp> stamp,
                          bool lossless)
{
    m_diskStamp = std::move(stamp);
    // Draft journals of the edits to come start from the file as written:
    // read again, it must give this very document, so not when characters
    // became "?" or long lines were held in pieces.
    m_sourceIdentity.reset();
    if (format != FileFormat::Rtf && lossless && m_diskStamp && m_written &&
        !mayHaveSoftBreaks(*m_document))
        m_sourceIdentity = SourceIdentity{request.path(), m_diskStamp->size,
                                          m_diskStamp->modifiedNs, m_written->hash,
                                          format == FileFormat::Scrambled};
    m_toldStamp.reset();
    request.m_file.reset();
    m_undecodable = false;
    // A new document is now what it was saved as; one read from a file
    // stays what it was read as.
    if (m_source == Source::New || m_source == Source::Recovered)
        m_source = format == FileFormat::Rtf ? Source::Rtf : Source::Text;
    // Saved unscrambled once, with the user's yes, it lives in the clear.
    if (format != FileFormat::Scrambled)
        m_fromEncrypted = false;
}

void DocumentState::new_()
{
    replaceContent();
    m_encoding = TextEncoding::forNewDocument();
    m_undecodable = false;
    m_source = Source::New;
    m_fromEncrypted = false;
    m_diskStamp.reset();
    m_toldStamp.reset();
    // The empty document is the new baseline, so an untouched new document
    // never asks to be saved.
    markUnchanged();
    name(QString(), QString(), false);
}

void DocumentState::replaceContent()
{
    if (m_loader.isLoading()) {
        m_loader.cancel();
        emit loadingChanged(false);
    }
    m_pictures = {};
    m_keptDropped = 0;
    m_written.reset();
    m_sourceIdentity.reset();
    m_readIdentity.reset();
    forgetSoftBreaks(*m_document);
    // Emptied with the undo history, as an editor's setPlainText("") does.
    const bool undo = m_document->isUndoRedoEnabled();
    m_document->setUndoRedoEnabled(false);
    m_document->clear();
    m_document->setUndoRedoEnabled(undo);
    m_document->setModified(false);
    emit emptied();
    setParagraphDirection(*m_document, Qt::LayoutDirectionAuto);
    // Emptied first: the view changes cheaply while there is nothing to lay out.
    setKind(DocumentKind::Plain);
}

std::optional<Error> DocumentState::loadRtf(const QByteArray &bytes)
{
    // Read while nothing lays the document out: the rich view lays out each
    // change as it comes, and either view would lay out a long paragraph
    // whole before it is held in pieces (a paragraph of 20 MB: minutes).
    emit aboutToReplace();
    const Result<ParsedRtf> parsed = parseRtf(bytes, *m_document);
    if (parsed.ok()) {
        m_pictures = parsed.value().pictures;
        m_keptDropped = parsed.value().keptDropped;
    }
    m_kind = kindOfReadRtf(*m_document);
    if (m_kind == DocumentKind::Plain)
        breakLongParagraphs(*m_document);
    m_document->clearUndoRedoStacks();
    emit replaced(m_kind);
    return parsed.failure();
}

std::optional<Error> DocumentState::ReadTextFile(const QString &path, ReadMode mode)
{
    Result<DocumentBytes> read = readDocumentFile(path, mode, m_readLimit);
    if (!read.ok())
        return read.error();
    DocumentBytes &file = read.value();
    m_readStamp = file.stamp;
    replaceContent(); // an RTF's kind is settled once it is read
    if (file.rich) {
        const std::optional<Error> error = loadRtf(file.bytes);
        m_encoding = TextEncoding::forNewDocument();
        m_undecodable = false;
        m_source = Source::Rtf;
        markUnchanged();
        if (error)
            return Error{QStringLiteral("无法打开文件“%1”").arg(displayPath(titleOf(path))),
                         error->why};
        return std::nullopt;
    }
    // A big file arrives in slices; the document is read-only until the
    // last one is in, and onLoadFinished() takes the baseline.
    m_source = Source::Text;
    if (file.stamp)
        m_readIdentity = SourceIdentity{path, file.stamp->size, file.stamp->modifiedNs, file.hash,
                                        mode == ReadMode::Scrambled};
    emit loadingChanged(true);
    m_loader.start(file.bytes, *m_document, m_plainFormat);
    return std::nullopt;
}

void DocumentState::finishLoading()
{
    m_loader.finish();
}

void DocumentState::onLoadFinished()
{
    TextLoader::Loaded loaded = m_loader.take();
    emit loadingChanged(false);
    m_encoding = loaded.encoding;
    m_undecodable = !loaded.clean;
    // The document holds exactly the text decoded unless that text held
    // paragraph or frame marks; only then is the baseline read back.
    if (loaded.hadMarks)
        m_loadedText.takeText(*m_document);
    else
        m_loadedText = std::move(loaded.baseline);
    m_loadedText.takeFormats(*m_document);
    m_sourceIdentity = std::exchange(m_readIdentity, std::nullopt);
    m_document->setModified(false);
    m_recovered = false;
    emit loadFinished();
}

std::optional<Error> DocumentState::openFile(const QString &path, ReadMode mode)
{
    if (auto error = ReadTextFile(path, mode))
        return error;
    // Only a file that became the document's is watched for changes.
    m_diskStamp = m_readStamp;
    m_toldStamp.reset();
    m_recovered = false;
    m_fromEncrypted = mode == ReadMode::Scrambled;
    name(titleOf(path), path, mode == ReadMode::Scrambled);
    return std::nullopt;
}

std::optional<Error> DocumentState::adoptRecovered(const QByteArray &rtf, const QString &title,
                                                   const QString &path, bool encrypted,
                                                   const TextEncoding &encoding)
{
    replaceContent(); // the kind is settled once it is read
    const std::optional<Error> error = loadRtf(rtf);
    markRecovered(title, path, encrypted, encoding);
    return error;
}

void DocumentState::adoptPlainText(const QString &text, const std::vector<int> &softBreaks)
{
    replaceContent();
    emit aboutToReplace();
    const bool undo = m_document->isUndoRedoEnabled();
    m_document->setUndoRedoEnabled(false);
    QTextCursor cursor(m_document);
    int at = 0;
    for (const int mark : softBreaks) {
        if (mark < at || mark >= text.size())
            continue;
        cursor.insertText(text.mid(at, mark - at), m_plainFormat);
        insertSoftBreak(cursor, m_plainFormat);
        at = mark + 1;
    }
    cursor.insertText(text.mid(at), m_plainFormat);
    m_document->setUndoRedoEnabled(undo);
    emit replaced(m_kind);
}

void DocumentState::markRecovered(const QString &title, const QString &path, bool encrypted,
                                  const TextEncoding &encoding)
{
    m_encoding = encoding;
    m_undecodable = false;
    m_source = Source::Recovered;
    m_fromEncrypted = encrypted;
    m_recovered = true;
    // What the file was when the draft was made is not known.
    m_diskStamp.reset();
    m_toldStamp.reset();
    m_document->setModified(true);
    name(title, path, encrypted);
}

bool DocumentState::savesOverOwnFile(const QString &path) const
{
    if (samePath(path, m_lastPath))
        return true;
    // Another name of the same file: a symlink or a hard link to it.
    const std::optional<FileStamp> there = stampOf(path);
    return m_diskStamp && there && there->device == m_diskStamp->device &&
           there->inode == m_diskStamp->inode && there->inode != 0;
}

DiskState DocumentState::diskState() const
{
    if (m_lastPath.isEmpty() || !m_diskStamp)
        return DiskState::Unchanged;
    return diskStateOf(m_lastPath, *m_diskStamp);
}

std::optional<Question> DocumentState::reloadQuestion()
{
    // A save in progress changes the file itself.
    if (isSaving() || m_loader.isLoading() || diskState() != DiskState::Changed)
        return std::nullopt;
    const std::optional<FileStamp> now = stampOf(m_lastPath);
    if (!now || (m_toldStamp && m_toldStamp->sameStat(*now)))
        return std::nullopt;
    m_toldStamp = now;
    // Enter keeps what the user typed; with nothing typed, reading the
    // file again loses nothing.
    const MessageAnswer enter = DocumentChanged() ? MessageAnswer::No : MessageAnswer::Yes;
    return Question{Question::Topic::ReloadChanged,
                    QStringLiteral("文件“%1”已被其他程序修改。要重新载入吗？").arg(m_title), false,
                    enter, MessageIcon::Exclamation};
}

std::optional<Error> DocumentState::reload()
{
    return openFile(m_lastPath, m_encrypted ? ReadMode::Scrambled : ReadMode::Text);
}

QString DocumentState::pathFromCommandLine(const QStringList &arguments)
{
    // A name is taken as written when it names something: a file may end in
    // a blank or hold quotes. The whole line first (a path with blanks the
    // shell split), then each argument alone.
    const QString whole = arguments.join(u' ');
    if (pathExists(whole))
        return whole;
    for (const QString &argument : arguments) {
        if (pathExists(argument))
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

QStringList DocumentState::loadWarnings() const
{
    QStringList out;
    if (const QString held = DocumentImages::heldBackMessage(m_pictures); !held.isEmpty())
        out << held;
    // What is cut here cannot come back with a save: the user must know
    // before saving over the file.
    if (m_keptDropped > 0)
        out << QStringLiteral(
            "文档中未显示的内容（页眉、页脚、脚注等）过多，超出部分保存时不会保留。");
    return out;
}

} // namespace Inkwell
