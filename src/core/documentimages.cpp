#include "core/documentimages.h"

#include <QBuffer>
#include <QImageReader>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>

namespace Inkwell::DocumentImages {

namespace {

// The next number to try for a picture name lives on the document itself,
// so that names stay unique per document without global state.
constexpr char counterProperty[] = "_inkwell_pictureCounter";

} // namespace

QUrl encodedUrl(const QString &name)
{
    QUrl url(name);
    url.setFragment(QStringLiteral("encoded"));
    return url;
}

QTextImageFormat add(QTextDocument *document, const QImage &image, const QByteArray &encoded,
                     const QByteArray &format)
{
    qint64 counter = document->property(counterProperty).toLongLong();
    QUrl url;
    do {
        ++counter;
        url = QUrl(QStringLiteral("%1:%2").arg(QLatin1String(nameScheme)).arg(counter));
        // A name already in use (pasted from another document, say) is skipped.
    } while (document->resource(QTextDocument::ImageResource, url).isValid());
    document->setProperty(counterProperty, counter);

    // A placeholder is stored as a null image: the resource exists (so the
    // name stays taken and find() sees it) but holds no pixels.
    document->addResource(QTextDocument::ImageResource, url, QVariant(image));
    QByteArray bytes = encoded;
    QSize size = image.size();
    if (image.isNull()) {
        size = headerSize(encoded).value_or(QSize());
    } else if (bytes.isEmpty() || format.isEmpty()) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    document->addResource(QTextDocument::UserResource, encodedUrl(url.toString()), QVariant(bytes));

    QTextImageFormat result;
    result.setName(url.toString());
    result.setWidth(size.width());
    result.setHeight(size.height());
    return result;
}

QByteArray sniffFormat(QByteArrayView bytes)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 &&
        uchar(bytes[2]) == 0xFF)
        return "jpeg";
    if (bytes.size() >= 26 && bytes.startsWith("BM"))
        return "bmp";
    return {};
}

std::optional<QSize> headerSize(const QByteArray &bytes)
{
    if (bytes.size() > maxEncodedBytes)
        return std::nullopt;
    const QByteArray format = sniffFormat(bytes);
    if (format.isEmpty())
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > maxSide || size.height() > maxSide ||
        qint64(size.width()) * size.height() > maxPixels)
        return std::nullopt;
    return size;
}

QSize pixelSize(const Picture &picture)
{
    if (!picture.image.isNull())
        return picture.image.size();
    return headerSize(picture.encoded).value_or(QSize());
}

std::optional<Picture> fromBytes(const QByteArray &bytes)
{
    // Check the header's size before decoding: a small file can claim a
    // picture of many gigapixels.
    if (!headerSize(bytes))
        return std::nullopt;
    const QByteArray format = sniffFormat(bytes);
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.width() > maxSide ||
        image.height() > maxSide)
        return std::nullopt;
    return Picture{image, bytes, format};
}

std::optional<Picture> find(const QTextDocument *document, const QString &name)
{
    const QUrl url(name);
    const QVariant stored = document->resource(QTextDocument::ImageResource, url);
    if (!stored.isValid())
        return std::nullopt;
    Picture picture;
    if (stored.canConvert<QImage>())
        picture.image = stored.value<QImage>();
    picture.encoded =
        document->resource(QTextDocument::UserResource, encodedUrl(name)).toByteArray();
    picture.format = sniffFormat(picture.encoded);
    if (picture.format.isEmpty())
        picture.encoded.clear();
    // Neither pixels nor bytes: nothing that could be drawn or saved.
    if (picture.image.isNull() && picture.encoded.isEmpty())
        return std::nullopt;
    return picture;
}

} // namespace Inkwell::DocumentImages
