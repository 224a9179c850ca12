// The pictures of an RTF document: one \pict group's properties and data as
// it is read, and its placement in the document within the picture budget.
#pragma once

#include "core/documentimages.h"

#include <QByteArray>
#include <QHash>
#include <QTextImageFormat>

#include <cstdint>
#include <optional>
#include <string_view>

class QTextDocument;

namespace Inkwell::Rtf {

enum class PictKind : std::uint8_t { Unknown, Png, Jpeg, Dib, Wbitmap, Metafile };

// One \pict group as read so far.
struct Pict {
    PictKind kind = PictKind::Unknown;
    int picw = 0, pich = 0, goalw = 0, goalh = 0, scalex = 100, scaley = 100;
    int bitsPixel = 0, widthBytes = 0;
    // All of it, past DocumentImages::maxEncodedBytes too: such a picture is
    // not decoded but kept, and it can be no bigger than the file it is in.
    QByteArray data;
    int nibble = -1;
    QByteArray keyword; // a metafile's kind as the file names it ("wmetafile8")

    // \wmetafileN, \emfblip and the like: a picture kept, not drawn.
    void metafile(std::string_view word, bool hasParam, int param);

    // A byte of the group's text: hex digits are the data, two to a byte;
    // anything else is ignored.
    void addHexDigit(unsigned char byte);
    // \binN data.
    void addBinary(std::string_view bytes);
};

// A BMP file around a packed DIB (\dibitmap holds the DIB without the file
// header), so that the ordinary image readers can decode it; empty when the
// header makes no sense.
QByteArray bmpFromDib(const QByteArray &dib);

// Turns the pictures read into document images. Pictures are decoded while
// their decoded sizes, summed, stay within the budget; the rest become
// placeholders that keep their bytes. So do pictures past the limits of one
// picture and pictures whose bytes cannot be decoded: they are held back as
// they came, shown as a frame of the size the file gives them. The same
// picture file repeated is registered (and decoded) once.
class PictureSink {
public:
    PictureSink(QTextDocument *document, qint64 budget) : m_document(document), m_budget(budget) {}

    // The image to insert for a finished \pict, sized by its goal and scale;
    // nullopt when it is skipped (empty, or a \wbitmap it cannot take). A
    // metafile, or a picture of a kind not known, is kept as it came and
    // shown as a placeholder.
    std::optional<QTextImageFormat> place(const Pict &pict);
    DocumentImages::BudgetUse use() const { return m_use; }

private:
    // Why a picture file was not registered.
    enum class Refused { No, TooLarge, Undecodable };

    QTextImageFormat fromFile(const QByteArray &file, Refused *refused,
                              DocumentImages::Header *header);
    QTextImageFormat fromWbitmap(const Pict &pict);
    QTextImageFormat kept(const Pict &pict);
    QTextImageFormat heldBack(const Pict &pict, const QByteArray &file, Refused refused,
                              const DocumentImages::Header &header);

    QTextDocument *m_document;
    qint64 m_budget;
    DocumentImages::BudgetUse m_use;
    QHash<QByteArray, QTextImageFormat> m_names;
};

} // namespace Inkwell::Rtf
