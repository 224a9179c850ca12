// Picture bombs for the tests: a small PNG file that decodes to a large
// picture, repeated in an RTF file, so that the file is small and its decoded
// pictures are many times the document's picture budget.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QtEndian>

namespace Inkwell::Testing {

// The PNG file with a text chunk holding `text` after its header: the same
// picture in different bytes. The chunk's CRC is computed as PNG does.
inline QByteArray withTextChunk(QByteArray png, const QByteArray &text)
{
    const QByteArray body = "tEXtComment" + QByteArray(1, '\0') + text;
    quint32 crc = 0xFFFFFFFF;
    for (const char c : body) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(body.size() - 4), chunk.data());
    chunk += body;
    QByteArray tail(4, '\0');
    qToBigEndian(crc, tail.data());
    chunk += tail;
    // After the 8-byte signature and the 25-byte IHDR chunk.
    png.insert(33, chunk);
    return png;
}

// One PNG file of `side` × `side` pixels (one bit each, so it is a few KiB),
// made distinct from its siblings by a text chunk holding `tag`.
inline QByteArray bombPng(int tag, int side = 4000)
{
    static QByteArray plain;
    static int plainSide = 0;
    if (plainSide != side) {
        QImage image(side, side, QImage::Format_Mono);
        image.fill(0);
        QBuffer buffer(&plain);
        plain.clear();
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        plainSide = side;
    }
    return withTextChunk(plain, QByteArray::number(tag));
}

// An RTF file holding `pictures` in order, each a PNG picture of `side` px.
inline QByteArray bombRtf(const QList<QByteArray> &pictures, int side = 4000)
{
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}bomb\\par\n";
    for (const QByteArray &png : pictures) {
        rtf += "{\\pict\\pngblip\\picw" + QByteArray::number(side) + "\\pich" +
               QByteArray::number(side) + "\\picwgoal300\\pichgoal300\n" + png.toHex() + "}\n";
    }
    rtf += "end}";
    return rtf;
}

// `distinct` different PNG files, the whole list repeated `times` times.
inline QList<QByteArray> bombPictures(int distinct, int times)
{
    QList<QByteArray> out;
    for (int t = 0; t < times; ++t)
        for (int i = 0; i < distinct; ++i)
            out.append(bombPng(i));
    return out;
}

// Whether the saved RTF holds `png`'s bytes as the picture data (the writer
// breaks hex lines, so line breaks are ignored).
inline bool holdsPicture(QByteArray rtf, const QByteArray &png)
{
    rtf.replace('\n', QByteArray());
    rtf.replace('\r', QByteArray());
    return rtf.contains(png.toHex()) || rtf.contains(png.toHex().toUpper());
}

} // namespace Inkwell::Testing
