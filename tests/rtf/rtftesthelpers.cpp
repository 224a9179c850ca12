#include "rtftesthelpers.h"

#include "core/documentimages.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QBuffer>
#include <QDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

namespace Inkwell::RtfTest {

QString normaliseText(QString text)
{
    text.replace(QChar::ParagraphSeparator, u'\n');
    text.replace(QChar::LineSeparator, u'\n');
    text.remove(QChar::ObjectReplacementCharacter);
    QStringList lines = text.split(u'\n');
    for (QString &line : lines) {
        qsizetype end = line.size();
        while (end > 0 && line.at(end - 1).isSpace())
            --end;
        line.truncate(end);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.join(u'\n');
}

namespace {

// One line per paragraph; a table row is one line with its cells separated
// by tabs (cells covered by a merge are not printed), a paragraph end inside
// a cell a line end.
void appendText(const QTextFrame::iterator &begin, const QTextFrame::iterator &end,
                QStringList &lines);

QString cellText(const QTextTableCell &cell)
{
    QStringList lines;
    appendText(cell.begin(), cell.end(), lines);
    return lines.join(u'\n');
}

void appendText(const QTextFrame::iterator &begin, const QTextFrame::iterator &end,
                QStringList &lines)
{
    bool previousWasTable = false;
    for (QTextFrame::iterator it = begin; it != end; ++it) {
        QTextFrame *frame = it.currentFrame();
        if (!frame) {
            // Qt puts an empty block before a table that starts a document
            // or a cell, and between two tables; it is not a paragraph of
            // the document.
            QTextFrame::iterator next = it;
            ++next;
            const bool beforeTable =
                next != end && qobject_cast<QTextTable *>(next.currentFrame()) != nullptr;
            const bool afterTable = !lines.isEmpty() && it != begin && previousWasTable;
            previousWasTable = false;
            if (!(beforeTable && (it == begin || afterTable) && it.currentBlock().length() == 1))
                lines.append(it.currentBlock().text());
            continue;
        }
        const auto *table = qobject_cast<QTextTable *>(frame);
        previousWasTable = table != nullptr;
        if (!table) {
            appendText(frame->begin(), frame->end(), lines);
            continue;
        }
        for (int row = 0; row < table->rows(); ++row) {
            QStringList cells;
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (cell.row() == row && cell.column() == column)
                    cells.append(cellText(cell));
            }
            lines.append(cells.join(u'\t'));
        }
    }
}

} // namespace

QString tableText(const QTextDocument &document)
{
    QStringList lines;
    const QTextFrame *root = document.rootFrame();
    appendText(root->begin(), root->end(), lines);
    return lines.join(u'\n');
}

const QByteArray head = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}"
                        "{\\f1\\fmodern Courier New;}}{\\colortbl ;\\red255\\green0\\blue0;"
                        "\\red0\\green128\\blue0;}\n";

QByteArray written(const QTextDocument &document)
{
    return Rtf::write(document, 1252);
}

QString plainText(const QTextDocument &document)
{
    return normaliseText(tableText(document));
}

CharLook lookAt(const QTextDocument &document, int position)
{
    QTextCursor cursor(const_cast<QTextDocument *>(&document));
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    // The format of the character after `position`.
    const QTextCharFormat format = cursor.charFormat();
    CharLook look;
    const QStringList families = format.fontFamilies().toStringList();
    look.family = families.isEmpty() || families.first().isEmpty() ? document.defaultFont().family()
                                                                   : families.first();
    look.points =
        format.fontPointSize() > 0 ? format.fontPointSize() : document.defaultFont().pointSizeF();
    look.bold =
        format.hasProperty(QTextFormat::FontWeight) && format.fontWeight() >= QFont::DemiBold;
    look.italic = format.fontItalic();
    look.underline = format.fontUnderline();
    look.strike = format.fontStrikeOut();
    if (format.hasProperty(QTextFormat::ForegroundBrush) &&
        format.foreground().style() != Qt::NoBrush)
        look.color = format.foreground().color();
    return look;
}

QString describe(const CharLook &look)
{
    return QStringLiteral("%1 %2pt%3%4%5%6 %7")
        .arg(look.family)
        .arg(look.points)
        .arg(look.bold ? " bold" : "", look.italic ? " italic" : "",
             look.underline ? " underline" : "", look.strike ? " strike" : "")
        .arg(look.color.isValid() ? look.color.name() : QStringLiteral("auto"));
}

bool readInto(QTextDocument &document, const QByteArray &rtf, int codePage)
{
    QTextCursor cursor(&document);
    return Rtf::read(rtf, cursor, codePage).ok;
}

QImage testImage(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb((x * 37 + seed * 11) & 255, (y * 53 + seed) & 255,
                                ((x + y) * 17 + seed * 3) & 255));
    return image;
}

QByteArray encodeImage(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

void appendPicture(QTextDocument &document, const QByteArray &encoded)
{
    const auto picture = DocumentImages::fromBytes(encoded);
    if (!picture)
        return;
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertImage(
        DocumentImages::add(&document, picture->image, picture->encoded, picture->format));
}

QString sharedDir()
{
    const QString dir = qEnvironmentVariable("INKWELL_SHARED_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        return {};
    return dir;
}

QList<FoundPicture> picturesIn(const QTextDocument &document)
{
    QList<FoundPicture> result;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QTextImageFormat image = format.toImageFormat();
            for (int i = 0; i < it.fragment().length(); ++i)
                result.append({image, DocumentImages::find(&document, image.name())});
        }
    }
    return result;
}

} // namespace Inkwell::RtfTest
