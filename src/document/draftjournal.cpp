#include "document/draftjournal.h"

#include "core/documentimages.h"
#include "core/documenttext.h"
#include "core/formatproperties.h"
#include "core/localpath.h"
#include "platform/codepage.h"

#include <QDataStream>
#include <QIODevice>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextTable>

#include <atomic>

namespace Inkwell {

namespace {

constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_0;

// Characters of a table's or frame's structure: an edit that holds one is
// not a matter of text and formats.
bool isStructureMark(QChar c)
{
    return c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1 || c.unicode() == 0xFDEF;
}

QTextBlockFormat withoutSoftBreak(QTextBlockFormat format)
{
    format.clearProperty(softBreakProperty);
    return format;
}

int softNumber(const QTextBlock &block)
{
    return block.blockFormat().intProperty(softBreakProperty);
}

void setSoftNumber(const QTextBlock &block, int number)
{
    QTextBlockFormat format = block.blockFormat();
    if (format.intProperty(softBreakProperty) == number)
        return;
    if (number != 0)
        format.setProperty(softBreakProperty, number);
    else
        format.clearProperty(softBreakProperty);
    QTextCursor(block).setBlockFormat(format);
}

// Numbers for the soft breaks a replay makes. Negative, so that they never
// meet the numbers the editor hands out; only a paragraph's neighbours must
// not share its number.
std::atomic<int> replayedSoftBreak{-1};

enum class Item : quint8 { Text, Mark };

Error misfit(const QString &why)
{
    return Error{QStringLiteral("草稿已损坏"), why};
}

} // namespace

QByteArray DraftBase::encode() const
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(streamVersion);
    s << quint8(kind) << quint8(documentKind);
    switch (kind) {
    case Kind::Empty:
        break;
    case Kind::Source:
        s << localBytesOfPath(source.path) << source.size << source.modifiedNs << source.hash
          << source.scrambled << qint32(characters) << qint32(blocks) << textLength;
        break;
    case Kind::PlainText:
        s << qint32(codePage) << bytes << QList<qint32>(softBreaks.begin(), softBreaks.end());
        break;
    case Kind::Rtf:
        s << bytes;
        break;
    }
    return out;
}

std::optional<DraftBase> DraftBase::decode(const QByteArray &payload)
{
    QDataStream s(payload);
    s.setVersion(streamVersion);
    DraftBase base;
    quint8 kind = 0;
    quint8 documentKind = 0;
    s >> kind >> documentKind;
    if (kind > quint8(Kind::Rtf) || documentKind > quint8(DocumentKind::Rich))
        return std::nullopt;
    base.kind = Kind(kind);
    base.documentKind = DocumentKind(documentKind);
    switch (base.kind) {
    case Kind::Empty:
        break;
    case Kind::Source: {
        QByteArray path;
        qint32 characters = 0;
        qint32 blocks = 0;
        s >> path >> base.source.size >> base.source.modifiedNs >> base.source.hash >>
            base.source.scrambled >> characters >> blocks >> base.textLength;
        base.source.path = pathFromLocalBytes(path);
        base.characters = characters;
        base.blocks = blocks;
        break;
    }
    case Kind::PlainText: {
        qint32 codePage = 0;
        QList<qint32> soft;
        s >> codePage >> base.bytes >> soft;
        base.codePage = codePage;
        base.softBreaks.assign(soft.begin(), soft.end());
        break;
    }
    case Kind::Rtf:
        s >> base.bytes;
        break;
    }
    if (s.status() != QDataStream::Ok)
        return std::nullopt;
    return base;
}

DraftJournal::DraftJournal(QTextDocument *document, QObject *parent)
    : QObject(parent), m_document(document)
{
    // A document without a layout never reports its changes.
    document->documentLayout();
    connect(document, &QTextDocument::contentsChange, this, &DraftJournal::contentsChanged);
    restart();
}

void DraftJournal::restart()
{
    m_pending.clear();
    m_needsSnapshot = false;
    m_picturesWritten.clear();
    // Format indices are reused once a document is emptied.
    m_charFormatTravels.clear();
    m_blockFormatTravels.clear();
    m_formatIds.clear();
    m_length = m_document->characterCount();
    m_frameMarks = frameMarks(&m_frameShape);
}

void DraftJournal::requireSnapshot()
{
    m_needsSnapshot = true;
    m_pending.clear();
}

QByteArray DraftJournal::take()
{
    return std::exchange(m_pending, QByteArray());
}

std::vector<int> DraftJournal::frameMarks(std::vector<int> *shape) const
{
    std::vector<int> marks;
    shape->clear();
    const QList<QTextFrame *> top = m_document->rootFrame()->childFrames();
    std::vector<QTextFrame *> frames(top.begin(), top.end());
    for (size_t i = 0; i < frames.size(); ++i) {
        QTextFrame *frame = frames[i];
        marks.push_back(frame->firstPosition() - 1);
        marks.push_back(frame->lastPosition());
        if (auto *table = qobject_cast<QTextTable *>(frame)) {
            shape->push_back(table->rows());
            shape->push_back(table->columns());
            for (int r = 0; r < table->rows(); ++r)
                for (int c = 0; c < table->columns(); ++c)
                    marks.push_back(table->cellAt(r, c).firstPosition() - 1);
        }
        for (QTextFrame *child : frame->childFrames())
            frames.push_back(child);
    }
    return marks;
}

void DraftJournal::contentsChanged(int position, int removed, int added)
{
    if (m_paused)
        return;
    const int count = m_document->characterCount();
    const int before = std::exchange(m_length, count);
    if (m_needsSnapshot)
        return;
    // A format over the final paragraph mark: the mark itself carries nothing
    // a draft keeps.
    if (removed == added && position + added == count && before == count)
        removed = added = count - 1 - position;
    // A replacement of the whole document counts the final paragraph mark
    // in; that, or anything that does not add up, is for a snapshot.
    if (position < 0 || removed < 0 || added < 0 || position + removed > before - 1 ||
        position + added > count - 1 || before - removed + added != count ||
        qint64(added) * 2 > m_largestRecord) {
        requireSnapshot();
        return;
    }
    // Tables and frames: the edit must have left their marks where they
    // were, moved only by the text before them. An insertion that makes
    // one holds its mark and goes to a snapshot below; any other only moves
    // them, so typing in a big table does not look at every cell.
    if (removed == 0 && added > 0) {
        for (int &mark : m_frameMarks)
            if (mark >= position)
                mark += added;
    } else if (!m_frameMarks.empty() || !m_document->rootFrame()->childFrames().isEmpty()) {
        std::vector<int> shape;
        const std::vector<int> now = frameMarks(&shape);
        bool same = shape == m_frameShape && now.size() == m_frameMarks.size();
        for (size_t i = 0; same && i < now.size(); ++i) {
            int mark = m_frameMarks[i];
            if (mark >= position && mark < position + removed)
                same = false;
            else if (mark >= position + removed)
                mark += added - removed;
            same = same && mark == now[i];
        }
        m_frameMarks = now;
        m_frameShape = std::move(shape);
        if (!same) {
            requireSnapshot();
            return;
        }
    }
    std::optional<QByteArray> record = editRecord(position, removed, added);
    if (!record || m_pending.size() + record->size() > m_largestRecord) {
        requireSnapshot();
        return;
    }
    m_pending += frameDraftRecord(DraftRecordType::Edit, *record);
}

bool DraftJournal::formatTravels(const QTextFormat &format, int index, bool isBlock)
{
    QHash<int, bool> &known = isBlock ? m_blockFormatTravels : m_charFormatTravels;
    if (const auto found = known.constFind(index); found != known.constEnd())
        return *found;
    // Objects (lists, tables, frames) are referred to by their index in this
    // document; and what QDataStream cannot carry would come back different.
    bool travels = format.objectIndex() == -1 && !format.isTableCellFormat();
    if (travels) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(streamVersion);
        out << format;
        QDataStream in(bytes);
        in.setVersion(streamVersion);
        QTextFormat back;
        in >> back;
        // Written again, it must give the same bytes: every value came back.
        QByteArray again;
        QDataStream out2(&again, QIODevice::WriteOnly);
        out2.setVersion(streamVersion);
        out2 << back;
        travels = in.status() == QDataStream::Ok && again == bytes &&
                  back.propertyCount() == format.propertyCount();
    }
    known.insert(index, travels);
    return travels;
}

void DraftJournal::writeFormat(QDataStream &out, const QTextFormat &format, int index, bool isBlock)
{
    // A format is written whole the first time, then by its number: a
    // keystroke's record is a few bytes.
    const auto found = m_formatIds.constFind(index);
    if (found != m_formatIds.constEnd()) {
        out << *found << false;
        return;
    }
    const quint32 id = quint32(m_formatIds.size());
    m_formatIds.insert(index, id);
    out << id << true;
    if (isBlock)
        out << QTextFormat(withoutSoftBreak(format.toBlockFormat()));
    else
        out << format;
}

void DraftJournal::addPicture(const QString &name)
{
    if (m_picturesWritten.contains(name))
        return;
    m_picturesWritten.insert(name);
    const std::optional<DocumentImages::Picture> picture = DocumentImages::find(m_document, name);
    if (!picture)
        return; // not one of ours: the name is all there is
    QByteArray payload;
    QDataStream s(&payload, QIODevice::WriteOnly);
    s.setVersion(streamVersion);
    // A picture drawn from its bytes is decoded again from them; a kept one
    // (a metafile drawn by the editor) carries its drawing.
    const bool decoded = !picture->image.isNull();
    s << name << picture->encoded << picture->format << picture->origin << picture->keptSize
      << decoded;
    if (decoded && !picture->origin.isEmpty())
        s << picture->image;
    m_pending += frameDraftRecord(DraftRecordType::Picture, payload);
}

std::optional<QByteArray> DraftJournal::editRecord(int position, int removed, int added)
{
    const int end = position + added;
    const QTextBlock first = m_document->findBlock(position);
    if (!first.isValid())
        return std::nullopt;
    // A list item's paragraph format names its list by its index here: kept
    // as it is when the edit stays inside the item, else for a snapshot.
    const bool inList = first.textList() != nullptr;
    if (inList && removed > 0)
        return std::nullopt;
    if (!inList && !formatTravels(first.blockFormat(), first.blockFormatIndex(), true))
        return std::nullopt;

    // Formats are numbered in the order they are written, so the part before
    // the items is written first.
    QByteArray head;
    QDataStream hs(&head, QIODevice::WriteOnly);
    hs.setVersion(streamVersion);
    hs << qint32(position) << qint32(removed) << qint32(added);
    hs << !inList;
    if (!inList)
        writeFormat(hs, first.blockFormat(), first.blockFormatIndex(), true);
    hs << continuesLine(first) << bool(position == 0);
    if (position == 0)
        writeFormat(hs, first.charFormat(), first.charFormatIndex(), false);

    QByteArray items;
    QDataStream is(&items, QIODevice::WriteOnly);
    is.setVersion(streamVersion);
    quint32 itemCount = 0;
    QTextBlock last = first;
    for (QTextBlock block = first; block.isValid() && block.position() <= end;
         block = block.next()) {
        last = block;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = std::max(fragment.position(), position);
            const int to = std::min(fragment.position() + fragment.length(), end);
            if (from >= to)
                continue;
            const QString text = fragment.text().mid(from - fragment.position(), to - from);
            for (const QChar c : text)
                if (isStructureMark(c))
                    return std::nullopt;
            const QTextCharFormat format = fragment.charFormat();
            if (!formatTravels(format, fragment.charFormatIndex(), false))
                return std::nullopt;
            if (format.isImageFormat())
                addPicture(format.toImageFormat().name());
            is << quint8(Item::Text) << text;
            writeFormat(is, format, fragment.charFormatIndex(), false);
            ++itemCount;
        }
        const int mark = block.position() + block.length() - 1;
        if (mark >= end)
            break;
        if (mark < position)
            continue;
        const QTextBlock next = block.next();
        if (inList || !next.isValid() ||
            m_document->characterAt(mark) != QChar::ParagraphSeparator || next.textList() ||
            !formatTravels(next.blockFormat(), next.blockFormatIndex(), true) ||
            !formatTravels(next.charFormat(), next.charFormatIndex(), false))
            return std::nullopt;
        is << quint8(Item::Mark);
        writeFormat(is, next.charFormat(), next.charFormatIndex(), false);
        writeFormat(is, next.blockFormat(), next.blockFormatIndex(), true);
        is << continuesLine(next);
        ++itemCount;
    }
    const QTextBlock after = last.next();

    QByteArray payload;
    QDataStream s(&payload, QIODevice::WriteOnly);
    s.setVersion(streamVersion);
    s.writeRawData(head.constData(), int(head.size()));
    s << itemCount;
    s.writeRawData(items.constData(), int(items.size()));
    s << after.isValid() << continuesLine(after);
    return payload;
}

namespace {

// Gives the paragraphs from `block` on the soft breaks the record says
// (`continues`, one per paragraph from `block`), then the paragraph after
// them `afterContinues`, and those after it the relation they had.
void placeSoftBreaks(QTextDocument &document, QTextBlock block, const std::vector<bool> &continues,
                     bool afterValid, bool afterContinues)
{
    int previous = block.previous().isValid() ? softNumber(block.previous()) : 0;
    bool anySoft = false;
    for (const bool wanted : continues) {
        if (!block.isValid())
            return;
        const bool soft = wanted && block.previous().isValid();
        const int number = soft ? replayedSoftBreak.fetch_sub(1) : previous;
        anySoft = anySoft || soft;
        setSoftNumber(block, number);
        previous = number;
        block = block.next();
    }
    bool wanted = afterContinues;
    while (afterValid && block.isValid()) {
        const int number = softNumber(block);
        if ((number != 0 && number != previous) == wanted)
            break;
        const int made = wanted ? replayedSoftBreak.fetch_sub(1) : previous;
        anySoft = anySoft || wanted;
        setSoftNumber(block, made);
        // The next paragraph keeps the relation it had with this one.
        const QTextBlock next = block.next();
        const int nextNumber = next.isValid() ? softNumber(next) : 0;
        wanted = nextNumber != 0 && nextNumber != number;
        previous = made;
        block = next;
    }
    if (anySoft && !mayHaveSoftBreaks(document)) {
        // The document learns it holds soft breaks the way the editor
        // teaches it: by one, made and removed again at its end.
        QTextCursor cursor(&document);
        cursor.movePosition(QTextCursor::End);
        const QTextBlockFormat lastFormat = cursor.blockFormat();
        insertSoftBreak(cursor, cursor.charFormat());
        cursor.deletePreviousChar();
        cursor.setBlockFormat(lastFormat);
    }
}

} // namespace

struct DraftReplay::State {
    QHash<QString, QString> pictureNames; // as recorded, as added again
    QHash<quint32, QTextFormat> formats;  // by their number in the journal
    // The document's formats by their bytes. A format comes back with its
    // properties in another order, and Qt tells formats apart by that order:
    // one the document has already is taken as it is, so that a run of
    // text stays one run.
    QHash<QByteArray, QTextFormat> present;
    bool scanned = false;
};

namespace {

using ReplayState = DraftReplay::State;

QByteArray bytesOf(const QTextFormat &format)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    out << format;
    return bytes;
}

QTextFormat readFormat(QDataStream &in, const QTextDocument &document, ReplayState &state)
{
    quint32 id = 0;
    bool defined = false;
    in >> id >> defined;
    if (defined) {
        QTextFormat format;
        in >> format;
        if (!state.scanned) {
            state.scanned = true;
            for (const QTextFormat &known : document.allFormats())
                state.present.insert(bytesOf(known), known);
        }
        const QByteArray key = bytesOf(format);
        if (const auto found = state.present.constFind(key); found != state.present.constEnd())
            format = *found;
        else
            state.present.insert(key, format);
        state.formats.insert(id, format);
        return format;
    }
    const auto found = state.formats.constFind(id);
    if (found == state.formats.constEnd()) {
        in.setStatus(QDataStream::ReadCorruptData);
        return {};
    }
    return *found;
}

std::optional<Error> replayEdit(QTextDocument &document, const QByteArray &payload,
                                ReplayState &state)
{
    QDataStream s(payload);
    s.setVersion(streamVersion);
    qint32 position = 0;
    qint32 removed = 0;
    qint32 added = 0;
    bool hasFirstFormat = false;
    QTextFormat firstFormat;
    bool firstContinues = false;
    bool hasInitial = false;
    QTextFormat initial;
    s >> position >> removed >> added >> hasFirstFormat;
    if (hasFirstFormat)
        firstFormat = readFormat(s, document, state);
    s >> firstContinues >> hasInitial;
    if (hasInitial)
        initial = readFormat(s, document, state);
    quint32 itemCount = 0;
    s >> itemCount;
    if (s.status() != QDataStream::Ok || position < 0 || removed < 0 ||
        position + removed > document.characterCount() - 1)
        return misfit(QStringLiteral("草稿中的修改与文档不符"));

    QTextCursor cursor(&document);
    cursor.setPosition(position);
    if (removed > 0) {
        cursor.setPosition(position + removed, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    std::vector<bool> continues{firstContinues};
    for (quint32 i = 0; i < itemCount && s.status() == QDataStream::Ok; ++i) {
        quint8 item = 0;
        s >> item;
        if (Item(item) == Item::Text) {
            QString text;
            s >> text;
            QTextCharFormat charFormat = readFormat(s, document, state).toCharFormat();
            if (charFormat.isImageFormat()) {
                QTextImageFormat image = charFormat.toImageFormat();
                image.setName(state.pictureNames.value(image.name(), image.name()));
                charFormat = image;
            }
            cursor.insertText(text, charFormat);
        } else {
            const QTextFormat mark = readFormat(s, document, state);
            const QTextFormat next = readFormat(s, document, state);
            bool nextContinues = false;
            s >> nextContinues;
            cursor.insertBlock(next.toBlockFormat(), mark.toCharFormat());
            continues.push_back(nextContinues);
        }
    }
    bool afterValid = false;
    bool afterContinues = false;
    s >> afterValid >> afterContinues;
    if (s.status() != QDataStream::Ok || cursor.position() != position + added)
        return misfit(QStringLiteral("草稿中的修改与文档不符"));
    if (hasFirstFormat)
        QTextCursor(document.findBlock(position)).setBlockFormat(firstFormat.toBlockFormat());
    if (hasInitial)
        QTextCursor(document.begin()).setBlockCharFormat(initial.toCharFormat());
    placeSoftBreaks(document, document.findBlock(position), continues, afterValid, afterContinues);
    return std::nullopt;
}

std::optional<Error> replayPicture(QTextDocument &document, const QByteArray &payload,
                                   ReplayState &state)
{
    QDataStream s(payload);
    s.setVersion(streamVersion);
    QString name;
    DocumentImages::Picture picture;
    bool decoded = false;
    s >> name >> picture.encoded >> picture.format >> picture.origin >> picture.keptSize >> decoded;
    if (decoded && !picture.origin.isEmpty())
        s >> picture.image;
    else if (decoded)
        picture.image.loadFromData(picture.encoded);
    if (s.status() != QDataStream::Ok)
        return misfit(QStringLiteral("草稿中的图片已损坏"));
    state.pictureNames.insert(name, DocumentImages::add(&document, picture).name());
    return std::nullopt;
}

} // namespace

DraftReplay::DraftReplay(QTextDocument &document)
    : m_document(document), m_state(std::make_unique<State>())
{
}

DraftReplay::~DraftReplay() = default;

std::optional<Error> DraftReplay::apply(const DraftRecord &record)
{
    if (record.type == DraftRecordType::Edit)
        return replayEdit(m_document, record.payload, *m_state);
    if (record.type == DraftRecordType::Picture)
        return replayPicture(m_document, record.payload, *m_state);
    return misfit(QStringLiteral("草稿中有不认识的记录"));
}

std::optional<Error> replayDraftRecords(QTextDocument &document,
                                        const std::vector<DraftRecord> &records)
{
    DraftReplay replay(document);
    for (size_t i = 1; i < records.size(); ++i)
        if (std::optional<Error> error = replay.apply(records[i]))
            return error;
    return std::nullopt;
}

PlainSnapshotWriter::PlainSnapshotWriter(const QTextDocument &document, int codePage)
    : m_document(document), m_codePage(codePage), m_block(document.begin()),
      m_pieces(mayHaveSoftBreaks(document))
{
    m_base.kind = DraftBase::Kind::PlainText;
    m_base.documentKind = DocumentKind::Plain;
    m_base.codePage = codePage;
}

void PlainSnapshotWriter::encodePending()
{
    if (m_text.isEmpty())
        return;
    if (m_codePage == 0) {
        m_base.bytes += m_text.toUtf8();
    } else {
        const CodePage::Encoded encoded =
            CodePage::encode(std::u16string_view(reinterpret_cast<const char16_t *>(m_text.utf16()),
                                                 size_t(m_text.size())),
                             m_codePage);
        m_lossless = m_lossless && encoded.lossless;
        m_base.bytes.append(encoded.bytes.data(), qsizetype(encoded.bytes.size()));
    }
    m_text.clear();
}

bool PlainSnapshotWriter::writeSome(const QDeadlineTimer &deadline)
{
    // Encoded in pieces of whole paragraphs, so that no character is split.
    constexpr qsizetype piece = 64 * 1024;
    int sinceLook = 0;
    while (m_block.isValid()) {
        m_text += m_block.text();
        const QTextBlock next = m_block.next();
        if (next.isValid()) {
            m_text += u'\n';
            if (m_pieces && continuesLine(next))
                m_base.softBreaks.push_back(m_block.position() + m_block.length() - 1);
        }
        m_block = next;
        if (m_text.size() >= piece)
            encodePending();
        if (++sinceLook >= 256) {
            sinceLook = 0;
            if (deadline.hasExpired())
                return !m_block.isValid();
        }
    }
    encodePending();
    return true;
}

DraftBase PlainSnapshotWriter::take()
{
    return std::move(m_base);
}

std::optional<QString> plainTextOfBase(const DraftBase &base)
{
    if (base.codePage == 0) {
        QString text = QString::fromUtf8(base.bytes);
        return text;
    }
    if (!CodePage::isSupported(base.codePage))
        return std::nullopt;
    const CodePage::Decoded decoded = CodePage::decode(
        std::string_view(base.bytes.constData(), size_t(base.bytes.size())), base.codePage);
    if (!decoded.clean)
        return std::nullopt;
    return QString(reinterpret_cast<const QChar *>(decoded.text.data()),
                   qsizetype(decoded.text.size()));
}

} // namespace Inkwell
