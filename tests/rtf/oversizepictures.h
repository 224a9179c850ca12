// Picture files a reader must not decode: real files whose header states a
// size past the limits of one picture, made small so the tests stay quick.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QtEndian>

namespace Inkwell::Testing {

inline QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A small JPEG whose frame header states `size`, as a camera's or a
// scanner's big picture does: what a reader learns before decoding.
inline QByteArray jpegStating(QSize size)
{
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray jpeg = encoded(image, "JPEG");
    // Walk the segments to the start of frame (SOF0..SOF2): FF Cn, length,
    // precision, then height and width, big-endian.
    qsizetype at = 2;
    while (at + 9 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
        const uchar marker = uchar(jpeg[at + 1]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            qToBigEndian<quint16>(quint16(size.height()), jpeg.data() + at + 5);
            qToBigEndian<quint16>(quint16(size.width()), jpeg.data() + at + 7);
            return jpeg;
        }
        at += 2 + qFromBigEndian<quint16>(jpeg.constData() + at + 2);
    }
    return {};
}

// A real PNG of `size` pixels, one bit each, so that even a panorama of
// 40000 × 600 is a few kilobytes.
inline QByteArray pngOf(QSize size)
{
    QImage image(size, QImage::Format_Mono);
    image.fill(1);
    return encoded(image, "PNG");
}

} // namespace Inkwell::Testing
