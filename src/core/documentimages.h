// Pictures embedded in a QTextDocument. The decoded QImage is stored as an
// ImageResource (so the layout can draw it) and the file bytes it came from
// as a UserResource, so that saving can write the original JPEG or PNG
// unchanged instead of re-encoding it. QTextDocument keys its resources by
// URL alone (the type is not part of the key), so the bytes live under the
// picture's name with the fragment "#encoded" (see encodedUrl()).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTextImageFormat>
#include <QUrl>

#include <optional>

class QTextDocument;

namespace Inkwell::DocumentImages {

// A picture whose image is null is a placeholder: its file bytes are kept
// (and saved) but were not decoded; it is drawn as a frame of its size.
struct Picture {
    QImage image;
    QByteArray encoded;
    QByteArray format; // "png", "jpeg" or "bmp"; a kept picture's kind ("wmf", "emf", ...)
    // A picture kept as it came because the editor cannot draw it (a
    // metafile): what describes its bytes in the file it came from, for the
    // writer of that format, and the size it is shown at. Empty otherwise.
    QByteArray origin;
    QSize keptSize;
};

// Largest picture file accepted, and largest decoded picture (pixels), so
// that a hostile file cannot make us allocate without bound.
inline constexpr qsizetype maxEncodedBytes = 64 * 1024 * 1024;
inline constexpr qint64 maxPixels = 64 * 1024 * 1024;
// Longest side accepted: beyond this PNG encoders (libpng stops at 1,000,000)
// and painting stop working, so such a picture could not be saved again.
inline constexpr int maxSide = 32767;

// What the pictures of one document may cost decoded, summed over the
// document: width × height × 4 bytes each. Without it a small file holding
// one small picture file of a large size many times decodes to gigabytes.
// Past it, pictures are kept as placeholders (see Picture).
inline constexpr qint64 pictureBudget = qint64(512) * 1024 * 1024;

// The memory a decoded picture of `size` takes (4 bytes a pixel).
inline qint64 decodedBytes(QSize size)
{
    return qint64(size.width()) * size.height() * 4;
}

// How a load spent the picture budget: pictures decoded (a picture repeated
// with the same bytes is decoded once), the bytes charged for them, and the
// pictures kept as placeholders, their bytes saved as they came: because the
// budget was spent, because they pass the limits of one picture, or because
// their bytes could not be decoded.
struct BudgetUse {
    int decoded = 0;
    qint64 bytes = 0;
    int heldBack = 0;    // all of them, whatever the reason
    int tooLarge = 0;    // of them: past the limits of one picture
    int undecodable = 0; // of them: the decoder refused their bytes
    // The first picture past the limits, as a message names it: "12000×9000",
    // or its file size when its header gives no size.
    QString tooLargeExample;
};

// The one message after a load whose pictures were held back, naming why;
// empty when none was.
QString heldBackMessage(const BudgetUse &use);

// The URL scheme of the names that add() hands out.
inline constexpr char nameScheme[] = "inkwell-picture";

// Where the original bytes of the picture called `name` are stored.
QUrl encodedUrl(const QString &name);

// Registers the picture under a fresh name and returns the image format to
// insert (name set, width/height = image size in pixels). A null image with
// `encoded` bytes registers a placeholder of the size its header gives.
QTextImageFormat add(QTextDocument *document, const QImage &image, const QByteArray &encoded,
                     const QByteArray &format);

// Registers a picture kept as it came (a metafile), with `origin` (see Picture),
// shown at `size` pixels: a WMF or EMF as MetafilePlayer draws it, else a framed
// placeholder. `draw` false (the picture budget is spent) keeps it undrawn: a
// null image.
QTextImageFormat addKept(QTextDocument *document, QSize size, const QByteArray &bytes,
                         const QByteArray &format, const QByteArray &origin, bool draw);

// Registers a picture found in another document (find()) under a fresh
// name, kept pictures as they are.
QTextImageFormat add(QTextDocument *document, const Picture &picture);

// The framed placeholder drawn for a kept picture; null when `size` passes
// the limits above.
QImage placeholder(QSize size);

// "png", "jpeg", "bmp" from the first bytes, or empty.
QByteArray sniffFormat(QByteArrayView bytes);

// What a picture file's header says, read without decoding and whatever
// the limits: its kind ("png", "jpeg", "bmp"; empty when it is none of
// them) and its size (empty when the header gives none).
struct Header {
    QByteArray format;
    QSize size;
};
Header readHeader(const QByteArray &bytes);

// Why a picture of `encodedBytes` bytes and `size` pixels passes the limits
// above, in Chinese ("图片过大（12000×9000）…"); empty when it is within them.
// An empty size is not checked.
QString limitReason(qint64 encodedBytes, QSize size);

// The size a PNG, JPEG or BMP file's header gives, read without decoding;
// nullopt when the bytes are not such a picture or it passes the limits above.
std::optional<QSize> headerSize(const QByteArray &bytes);

// The picture's size in pixels: its image's, or for a placeholder its header's.
QSize pixelSize(const Picture &picture);

struct Decoded {
    std::optional<Picture> picture;
    QString why; // without a picture: the reason, in Chinese
};

// Decodes a picture file's bytes (format taken from the content). Without a
// picture it says why: not a PNG, JPEG or BMP file, past the limits above
// (with the picture's size), or bytes the decoder refused.
Decoded decode(const QByteArray &bytes);

// decode()'s picture alone.
std::optional<Picture> fromBytes(const QByteArray &bytes);

// The picture registered under `name` (a placeholder too), or nullopt.
std::optional<Picture> find(const QTextDocument *document, const QString &name);

} // namespace Inkwell::DocumentImages
