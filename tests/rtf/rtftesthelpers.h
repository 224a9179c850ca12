// Shared by the RTF tests: building documents and looking at what a read
// produced.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QList>
#include <QTextCharFormat>
#include <QTextImageFormat>

#include "core/documentimages.h"

#include <optional>

class QTextDocument;

namespace Inkwell::RtfTest {

// The document's text the way LibreOffice's text export prints it: one line
// per paragraph, pictures dropped, line ends trimmed, no trailing empty lines;
// a table row is one line, its cells separated by tabs.
// The header every generated file starts with: fonts 0 (Arial) and 1
// (Courier New), colours 1 (red) and 2 (green), entry 0 automatic.
extern const QByteArray head;
// The document as the writer writes it in code page 1252.
QByteArray written(const QTextDocument &document);

QString plainText(const QTextDocument &document);
// The same lines before the normalisation.
QString tableText(const QTextDocument &document);

// The same normalisation for a text file (LibreOffice's output).
QString normaliseText(QString text);

// Formatting of one character in a comparable form, with the document's
// defaults filled in for what the format leaves unset.
struct CharLook {
    QString family;
    double points = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    QColor color; // invalid: automatic
    bool operator==(const CharLook &) const = default;
};
QString describe(const CharLook &look);
CharLook lookAt(const QTextDocument &document, int position);

// Reads RTF into a fresh document (cursor at the start).
bool readInto(QTextDocument &document, const QByteArray &rtf, int codePage = 936);

// Encoded picture bytes for tests.
QImage testImage(int width, int height, int seed);
QByteArray encodeImage(const QImage &image, const char *format);

// Inserts a picture (through DocumentImages) at the end of the document.
void appendPicture(QTextDocument &document, const QByteArray &encoded);

// The shared folder (INKWELL_SHARED_DIR), or empty when not set or absent.
QString sharedDir();

// A picture in the document, once for each character it stands on, with
// what the picture store holds for it.
struct FoundPicture {
    QTextImageFormat format;
    std::optional<DocumentImages::Picture> picture;
};
QList<FoundPicture> picturesIn(const QTextDocument &document);

} // namespace Inkwell::RtfTest
