#include "rtf/rtfpicture.h"

#include "core/systemerror.h"
#include "rtf/rtftokenizer.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Inkwell::Rtf {

void Pict::addHexDigit(unsigned char byte)
{
    const int value = hexDigit(char(byte));
    if (value < 0)
        return;
    if (nibble < 0) {
        nibble = value;
        return;
    }
    data.append(char(nibble * 16 + value));
    nibble = -1;
}

void Pict::addBinary(std::string_view bytes)
{
    data.append(bytes.data(), qsizetype(bytes.size()));
}

void Pict::metafile(std::string_view word, bool hasParam, int param)
{
    kind = PictKind::Metafile;
    keyword = QByteArray(word.data(), qsizetype(word.size()));
    if (hasParam)
        keyword.append(QByteArray::number(param));
}

QByteArray bmpFromDib(const QByteArray &dib)
{
    if (dib.size() < 16)
        return {};
    auto le32 = [&](qsizetype at) -> quint32 {
        if (at + 4 > dib.size())
            return 0;
        return quint32(uchar(dib[at])) | quint32(uchar(dib[at + 1])) << 8 |
               quint32(uchar(dib[at + 2])) << 16 | quint32(uchar(dib[at + 3])) << 24;
    };
    const quint32 headerSize = le32(0);
    if (headerSize < 12 || headerSize > quint32(dib.size()))
        return {};
    quint32 bitCount = 0, colorsUsed = 0, compression = 0;
    if (headerSize == 12) {
        bitCount = quint32(uchar(dib[10])) | quint32(uchar(dib[11])) << 8;
    } else {
        bitCount = quint32(uchar(dib[14])) | quint32(uchar(dib[15])) << 8;
        compression = le32(16);
        colorsUsed = le32(32);
    }
    quint32 paletteEntries = colorsUsed;
    if (paletteEntries == 0 && bitCount <= 8)
        paletteEntries = 1u << bitCount;
    const quint32 entrySize = headerSize == 12 ? 3 : 4;
    quint64 offset = 14 + quint64(headerSize) + quint64(std::min(paletteEntries, 256u)) * entrySize;
    if (headerSize == 40 && (compression == 3 || compression == 6))
        offset += compression == 3 ? 12 : 16;
    const quint64 total = 14 + quint64(dib.size());
    if (offset > total || total > quint64(std::numeric_limits<quint32>::max()))
        return {};
    QByteArray file;
    file.reserve(qsizetype(total));
    auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            file.append(char((v >> (8 * i)) & 0xFF));
    };
    file.append("BM");
    put32(quint32(total));
    put32(0);
    put32(quint32(offset));
    file.append(dib);
    return file;
}

std::optional<QTextImageFormat> PictureSink::place(const Pict &pict)
{
    if (pict.data.isEmpty())
        return {};
    QTextImageFormat inserted;
    switch (pict.kind) {
    case PictKind::Png:
    case PictKind::Jpeg:
    case PictKind::Unknown:
    case PictKind::Dib: {
        const QByteArray file = pict.kind == PictKind::Dib ? bmpFromDib(pict.data) : pict.data;
        Refused refused = Refused::No;
        DocumentImages::Header header;
        inserted = fromFile(file, &refused, &header);
        if (refused == Refused::No)
            break;
        // Bytes of no kind we know, under no kind's keyword: kept as they
        // came, like a metafile.
        if (pict.kind == PictKind::Unknown && header.format.isEmpty())
            return kept(pict);
        return heldBack(pict, file, refused, header);
    }
    case PictKind::Wbitmap:
        inserted = fromWbitmap(pict);
        break;
    case PictKind::Metafile:
        // Metafiles are kept as they came and drawn from their bytes.
        return kept(pict);
    }
    const QSize natural(int(inserted.width()), int(inserted.height()));
    if (!inserted.isValid() || natural.isEmpty())
        return {};
    // \picwgoal/\pichgoal are twips (15 per pixel at 96 dpi), scaled in percent.
    auto scaled = [](int goal, int own, int scale) {
        const double base = goal > 0 ? goal / 15.0 : double(own);
        const double percent = scale > 0 && scale <= 10000 ? scale : 100;
        return std::max(1.0, std::round(base * percent / 100.0));
    };
    inserted.setWidth(scaled(pict.goalw, natural.width(), pict.scalex));
    inserted.setHeight(scaled(pict.goalh, natural.height(), pict.scaley));
    return inserted;
}

namespace {

// The words that gave a kept picture its shown size, written back after its
// own size so a save gives it the size it had.
void appendShownSizeWords(QByteArray &origin, const Pict &pict)
{
    if (pict.goalw > 0)
        origin += "\\picwgoal" + QByteArray::number(pict.goalw);
    if (pict.goalh > 0)
        origin += "\\pichgoal" + QByteArray::number(pict.goalh);
    if (pict.scalex != 100)
        origin += "\\picscalex" + QByteArray::number(pict.scalex);
    if (pict.scaley != 100)
        origin += "\\picscaley" + QByteArray::number(pict.scaley);
}

} // namespace

QTextImageFormat PictureSink::fromFile(const QByteArray &file, Refused *refused,
                                       DocumentImages::Header *header)
{
    *refused = Refused::Undecodable;
    if (file.isEmpty())
        return {};
    const auto known = m_names.constFind(file);
    if (known != m_names.constEnd()) {
        *refused = Refused::No;
        return *known;
    }
    // The size from the header, before anything is decoded.
    *header = DocumentImages::readHeader(file);
    if (header->size.isEmpty())
        return {};
    if (!DocumentImages::limitReason(file.size(), header->size).isEmpty()) {
        *refused = Refused::TooLarge;
        return {};
    }
    const qint64 cost = DocumentImages::decodedBytes(header->size);
    std::optional<DocumentImages::Picture> picture;
    if (m_use.bytes + cost <= m_budget) {
        picture = DocumentImages::fromBytes(file);
        if (!picture)
            return {};
        ++m_use.decoded;
        m_use.bytes += cost;
    } else {
        // Past the budget: a placeholder that keeps the bytes.
        picture =
            DocumentImages::Picture{QImage(), file, DocumentImages::sniffFormat(file), {}, {}};
        ++m_use.heldBack;
    }
    *refused = Refused::No;
    return *m_names.insert(
        file, DocumentImages::add(m_document, picture->image, picture->encoded, picture->format));
}

QTextImageFormat PictureSink::heldBack(const Pict &pict, const QByteArray &file, Refused refused,
                                       const DocumentImages::Header &header)
{
    // Its own size: what the file states (\picw, \pich: pixels for these
    // kinds), else what the picture's header says, else a frame of a size a
    // reader can see and select.
    constexpr int defaultSide = 96;
    QSize own(pict.picw, pict.pich);
    if (own.isEmpty())
        own = header.size;
    if (own.isEmpty())
        own = QSize(defaultSide, defaultSide);
    auto shown = [](int goal, int side, int scale) {
        const double base = goal > 0 ? goal / 15.0 : double(side);
        const double percent = scale > 0 && scale <= 10000 ? scale : 100;
        return std::max(1.0, std::round(base * percent / 100.0));
    };
    double width = shown(pict.goalw, own.width(), pict.scalex);
    double height = shown(pict.goalh, own.height(), pict.scaley);
    // A frame wider than any picture may be is made smaller, its shape kept.
    const double fit = std::min(1.0, DocumentImages::maxSide / std::max(width, height));
    const QSize size(std::max(1, int(std::lround(width * fit))),
                     std::max(1, int(std::lround(height * fit))));

    // Written back as it came: its kind's keyword and own size, then (after
    // \x01) the words that gave the shown size.
    QByteArray origin;
    QByteArray format = DocumentImages::sniffFormat(file);
    switch (pict.kind) {
    case PictKind::Png:
        origin = "\\pngblip";
        format = "png";
        break;
    case PictKind::Jpeg:
        origin = "\\jpegblip";
        format = "jpeg";
        break;
    case PictKind::Dib:
        origin = "\\dibitmap0";
        if (pict.bitsPixel > 0)
            origin += "\\wbmbitspixel" + QByteArray::number(pict.bitsPixel);
        if (pict.widthBytes > 0)
            origin += "\\wbmwidthbytes" + QByteArray::number(pict.widthBytes);
        format = "dib";
        break;
    default:
        break;
    }
    if (format.isEmpty())
        format = "unknown";
    origin += "\\picw" + QByteArray::number(own.width()) + "\\pich" +
              QByteArray::number(own.height()) + '\x01';
    appendShownSizeWords(origin, pict);

    ++m_use.heldBack;
    if (refused == Refused::TooLarge) {
        // Named by what passes the limits: its pixels, else its file's bytes.
        const bool pixelsFit = DocumentImages::limitReason(0, header.size).isEmpty();
        if (m_use.tooLarge++ == 0)
            m_use.tooLargeExample =
                pixelsFit
                    ? sizeText(file.size())
                    : QStringLiteral("%1×%2").arg(header.size.width()).arg(header.size.height());
    } else {
        ++m_use.undecodable;
    }
    return DocumentImages::addKept(m_document, size, pict.data, format, origin, false);
}

QTextImageFormat PictureSink::kept(const Pict &pict)
{
    // The shown size: the goal size (twips) scaled, else \picw/\pich, which
    // a Windows metafile gives in hundredths of a millimetre.
    const bool himetric = pict.keyword.startsWith("wmetafile") || pict.keyword == "emfblip";
    auto side = [&](int goal, int own, int scale) {
        double base = goal > 0 ? goal / 15.0 : (himetric ? own * 96.0 / 2540.0 : double(own));
        if (base <= 0)
            base = 96;
        const double percent = scale > 0 && scale <= 10000 ? scale : 100;
        return int(
            std::clamp(std::round(base * percent / 100.0), 1.0, double(DocumentImages::maxSide)));
    };
    const QSize size(side(pict.goalw, pict.picw, pict.scalex),
                     side(pict.goalh, pict.pich, pict.scaley));
    QByteArray format = "unknown";
    if (pict.keyword.startsWith("wmetafile"))
        format = "wmf";
    else if (pict.keyword == "emfblip")
        format = "emf";
    else if (pict.keyword == "macpict")
        format = "pict";
    else if (pict.keyword.startsWith("pmmetafile"))
        format = "pmm";
    // What the writer needs to write it back as it came: its kind and own
    // size, then (after \x01) the words that gave the shown size.
    QByteArray origin;
    if (!pict.keyword.isEmpty())
        origin += "\\" + pict.keyword;
    origin += "\\picw" + QByteArray::number(pict.picw) + "\\pich" + QByteArray::number(pict.pich);
    origin += '\x01';
    appendShownSizeWords(origin, pict);
    // The placeholder is drawn, so it is charged like a decoded picture.
    const qint64 cost = DocumentImages::decodedBytes(size);
    const bool draw = qint64(size.width()) * size.height() <= DocumentImages::maxPixels &&
                      m_use.bytes + cost <= m_budget;
    if (draw) {
        ++m_use.decoded;
        m_use.bytes += cost;
    } else {
        ++m_use.heldBack;
    }
    return DocumentImages::addKept(m_document, size, pict.data, format, origin, draw);
}

QTextImageFormat PictureSink::fromWbitmap(const Pict &pict)
{
    // A device-dependent bitmap: rows of widthBytes, top row first.
    const int width = pict.picw, height = pict.pich, stride = pict.widthBytes;
    QImage::Format format = QImage::Format_Invalid;
    if (pict.bitsPixel == 1)
        format = QImage::Format_Mono;
    else if (pict.bitsPixel == 24)
        format = QImage::Format_BGR888;
    else if (pict.bitsPixel == 32)
        format = QImage::Format_RGB32;
    if (format == QImage::Format_Invalid || width <= 0 || height <= 0 || stride <= 0 ||
        width > DocumentImages::maxSide || height > DocumentImages::maxSide ||
        qint64(width) * height > DocumentImages::maxPixels ||
        qint64(stride) * height > pict.data.size() ||
        qint64(stride) * 8 < qint64(width) * pict.bitsPixel)
        return {};
    QImage image(width, height, format);
    if (image.isNull())
        return {};
    if (format == QImage::Format_Mono)
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const qsizetype rowBytes = (qsizetype(width) * pict.bitsPixel + 7) / 8;
    for (int y = 0; y < height; ++y)
        std::copy_n(pict.data.constData() + qsizetype(y) * stride, rowBytes,
                    reinterpret_cast<char *>(image.scanLine(y)));
    // Its pixels are in the file itself (at most 32 decoded bytes for each
    // bit read), so it is charged but always decoded: kept undecoded it
    // would have no file bytes to save.
    image = image.convertToFormat(QImage::Format_RGB32);
    ++m_use.decoded;
    m_use.bytes += DocumentImages::decodedBytes(image.size());
    return DocumentImages::add(m_document, image, {}, {});
}

} // namespace Inkwell::Rtf
