#include "core/documentimages.h"

#include "core/metafileplayer.h"
#include "core/systemerror.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>

#include <algorithm>

namespace Inkwell::DocumentImages {

namespace {

// The next number to try for a picture name lives on the document itself,
// so that names stay unique per document without global state.
constexpr char counterProperty[] = "_inkwell_pictureCounter";

// What a kept picture is, stored beside its bytes.
QUrl keptUrl(const QString &name)
{
    QUrl url(name);
    url.setFragment(QStringLiteral("kept"));
    return url;
}

QUrl freshName(QTextDocument *document)
{
    qint64 counter = document->property(counterProperty).toLongLong();
    QUrl url;
    do {
        ++counter;
        url = QUrl(QStringLiteral("%1:%2").arg(QLatin1String(nameScheme)).arg(counter));
        // A name already in use (pasted from another document, say) is skipped.
    } while (document->resource(QTextDocument::ImageResource, url).isValid());
    document->setProperty(counterProperty, counter);
    return url;
}

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
    const QUrl url = freshName(document);

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

QImage placeholder(QSize size)
{
    if (size.isEmpty() || size.width() > maxSide || size.height() > maxSide ||
        qint64(size.width()) * size.height() > maxPixels)
        return {};
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(QColor(0xf4, 0xf4, 0xf4));
    QPainter painter(&image);
    painter.setPen(QColor(0xb0, 0xb0, 0xb0));
    painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    // A small cross in the middle. (No label: text would load the fonts,
    // which a reader on another thread or in a tool should not need.)
    const int arm = std::min({size.width(), size.height(), 24}) / 4;
    const QPoint middle(size.width() / 2, size.height() / 2);
    painter.drawLine(middle - QPoint(arm, arm), middle + QPoint(arm, arm));
    painter.drawLine(middle + QPoint(-arm, arm), middle + QPoint(arm, -arm));
    return image;
}

namespace {

QTextImageFormat storeKept(QTextDocument *document, const QImage &image, QSize size,
                           const QByteArray &bytes, const QByteArray &format,
                           const QByteArray &origin)
{
    const QUrl url = freshName(document);
    document->addResource(QTextDocument::ImageResource, url, QVariant(image));
    document->addResource(QTextDocument::UserResource, encodedUrl(url.toString()), QVariant(bytes));
    document->addResource(QTextDocument::UserResource, keptUrl(url.toString()),
                          QVariantList{format, origin, size});
    QTextImageFormat result;
    result.setName(url.toString());
    result.setWidth(size.width());
    result.setHeight(size.height());
    return result;
}

} // namespace

QTextImageFormat addKept(QTextDocument *document, QSize size, const QByteArray &bytes,
                         const QByteArray &format, const QByteArray &origin, bool draw)
{
    QImage image;
    if (draw && (format == "wmf" || format == "emf"))
        image = MetafilePlayer::render(bytes, format, size);
    if (draw && image.isNull())
        image = placeholder(size);
    return storeKept(document, image, size, bytes, format, origin);
}

QTextImageFormat add(QTextDocument *document, const Picture &picture)
{
    if (!picture.origin.isEmpty())
        return storeKept(document, picture.image, picture.keptSize, picture.encoded, picture.format,
                         picture.origin);
    return add(document, picture.image, picture.encoded, picture.format);
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

Header readHeader(const QByteArray &bytes)
{
    Header header;
    header.format = sniffFormat(bytes);
    if (header.format.isEmpty())
        return header;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, header.format);
    const QSize size = reader.size();
    if (size.isValid() && !size.isEmpty())
        header.size = size;
    return header;
}

QString limitReason(qint64 encodedBytes, QSize size)
{
    if (!size.isEmpty() && (size.width() > maxSide || size.height() > maxSide ||
                            qint64(size.width()) * size.height() > maxPixels))
        return QStringLiteral("图片过大（%1×%2），Inkwell 只能显示每边不超过 %3 像素、"
                              "总共不超过 %4 万像素的图片")
            .arg(size.width())
            .arg(size.height())
            .arg(maxSide)
            .arg(maxPixels / 10000);
    if (encodedBytes > maxEncodedBytes)
        return QStringLiteral("图片文件过大（%1），Inkwell 只能显示不超过 %2 的图片文件")
            .arg(sizeText(encodedBytes), sizeText(maxEncodedBytes));
    return QString();
}

std::optional<QSize> headerSize(const QByteArray &bytes)
{
    const Header header = readHeader(bytes);
    if (header.size.isEmpty() || !limitReason(bytes.size(), header.size).isEmpty())
        return std::nullopt;
    return header.size;
}

QSize pixelSize(const Picture &picture)
{
    if (!picture.image.isNull())
        return picture.image.size();
    if (!picture.origin.isEmpty())
        return picture.keptSize;
    return headerSize(picture.encoded).value_or(QSize());
}

Decoded decode(const QByteArray &bytes)
{
    const QString broken = QStringLiteral("图片数据已损坏，无法解码");
    // Check the header's size before decoding: a small file can claim a
    // picture of many gigapixels.
    const Header header = readHeader(bytes);
    if (header.format.isEmpty())
        return {std::nullopt, QStringLiteral("不是 JPEG、PNG 或 BMP 图片")};
    if (const QString why = limitReason(bytes.size(), header.size); !why.isEmpty())
        return {std::nullopt, why};
    if (header.size.isEmpty())
        return {std::nullopt, broken};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, header.format);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return {std::nullopt, broken};
    if (const QString why = limitReason(bytes.size(), image.size()); !why.isEmpty())
        return {std::nullopt, why};
    return {Picture{image, bytes, header.format, {}, {}}, QString()};
}

std::optional<Picture> fromBytes(const QByteArray &bytes)
{
    return decode(bytes).picture;
}

QString heldBackMessage(const BudgetUse &use)
{
    if (use.heldBack <= 0)
        return QString();
    const int overBudget = use.heldBack - use.tooLarge - use.undecodable;
    if (use.tooLarge == 0 && use.undecodable == 0)
        return QStringLiteral("文档中的图片太多，部分图片以占位框显示；保存时图片会原样保留。");
    QStringList reasons;
    if (use.tooLarge > 0)
        reasons << QStringLiteral("%1 张图片过大（%2）").arg(use.tooLarge).arg(use.tooLargeExample);
    if (use.undecodable > 0)
        reasons << QStringLiteral("%1 张图片数据损坏，无法解码").arg(use.undecodable);
    if (overBudget > 0)
        reasons << QStringLiteral("%1 张图片超出了文档图片的总量").arg(overBudget);
    return QStringLiteral("文档中有图片无法显示，以占位框代替：%1。保存时图片会原样保留。")
        .arg(reasons.join(QStringLiteral("；")));
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
    const QVariantList kept =
        document->resource(QTextDocument::UserResource, keptUrl(name)).toList();
    if (kept.size() == 3 && !picture.encoded.isEmpty()) {
        picture.format = kept[0].toByteArray();
        picture.origin = kept[1].toByteArray();
        picture.keptSize = kept[2].toSize();
        return picture;
    }
    picture.format = sniffFormat(picture.encoded);
    if (picture.format.isEmpty())
        picture.encoded.clear();
    // Neither pixels nor bytes: nothing that could be drawn or saved.
    if (picture.image.isNull() && picture.encoded.isEmpty())
        return std::nullopt;
    return picture;
}

} // namespace Inkwell::DocumentImages
