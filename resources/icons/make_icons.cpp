// Draws the program icon at every size it ships in and packs the sizes into
// inkwell.ico. Run it again after changing the drawing:
//   g++ -std=c++20 -fPIC make_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_icons
//   QT_QPA_PLATFORM=offscreen /tmp/make_icons .
// The icon: a cream fountain-pen nib on a blue ink tile, with a drop of ink.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

static QImage draw(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size, size);
    const bool tiny = size <= 24;

    // The tile: a rounded square of deep ink blue, lighter at the top.
    QLinearGradient ink(0, 0, 0, 1);
    ink.setColorAt(0, QColor(0x3d, 0x6b, 0xe0));
    ink.setColorAt(1, QColor(0x1b, 0x2f, 0x7a));
    const double inset = tiny ? 0.0 : 0.03;
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(inset, inset, 1 - 2 * inset, 1 - 2 * inset), 0.2, 0.2);

    // The nib, drawn pointing down and turned to write towards the lower left.
    p.save();
    p.translate(0.5, 0.5);
    p.rotate(40);
    p.translate(-0.5, -0.5);
    QPainterPath nib;
    nib.moveTo(0.33, 0.20);
    nib.lineTo(0.67, 0.20);
    nib.cubicTo(0.75, 0.44, 0.66, 0.64, 0.50, 0.92);
    nib.cubicTo(0.34, 0.64, 0.25, 0.44, 0.33, 0.20);
    QLinearGradient metal(0.3, 0, 0.7, 0);
    metal.setColorAt(0, QColor(0xff, 0xf8, 0xe6));
    metal.setColorAt(1, QColor(0xe8, 0xd9, 0xb0));
    p.setBrush(metal);
    p.drawPath(nib);
    // The collar where the nib meets the pen.
    p.setBrush(QColor(0xe0, 0xa8, 0x2e));
    p.drawRoundedRect(QRectF(0.30, 0.08, 0.40, tiny ? 0.14 : 0.12), 0.03, 0.03);
    // The breather hole and the slit, in the tile's blue.
    const QColor slot(0x1b, 0x2f, 0x7a);
    p.setBrush(slot);
    const double hole = tiny ? 0.075 : 0.05;
    p.drawEllipse(QPointF(0.5, 0.50), hole, hole);
    if (!tiny) {
        p.setPen(QPen(slot, size >= 64 ? 0.03 : 0.045, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(0.5, 0.54), QPointF(0.5, 0.90));
        p.setPen(Qt::NoPen);
    }
    p.restore();

    // A drop of ink below the tip.
    if (!tiny) {
        QPainterPath drop;
        drop.moveTo(0.20, 0.70);
        drop.cubicTo(0.24, 0.77, 0.28, 0.80, 0.28, 0.84);
        drop.arcTo(QRectF(0.12, 0.76, 0.16, 0.16), 0, -180);
        drop.cubicTo(0.12, 0.80, 0.16, 0.77, 0.20, 0.70);
        p.setBrush(QColor(0x9f, 0xd4, 0xff));
        p.drawPath(drop);
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// One icon-directory entry's image: 32-bit BGRA rows from the bottom up,
// then the 1-bit AND mask, as ICO readers since Windows 95 expect; the
// 256-pixel image is stored as PNG, as Windows Vista introduced.
static QByteArray dib(const QImage &image)
{
    const int n = image.width();
    QByteArray out(40, '\0');
    auto put32 = [&](int offset, quint32 v) { qToLittleEndian(v, out.data() + offset); };
    put32(0, 40);
    put32(4, quint32(n));
    put32(8, quint32(2 * n)); // colour rows and mask rows
    qToLittleEndian<quint16>(1, out.data() + 12);
    qToLittleEndian<quint16>(32, out.data() + 14);
    for (int y = n - 1; y >= 0; --y) {
        const auto *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        for (int x = 0; x < n; ++x) {
            char bgra[4];
            qToLittleEndian(row[x], bgra);
            out.append(bgra, 4);
        }
    }
    const int maskStride = ((n + 31) / 32) * 4;
    for (int y = n - 1; y >= 0; --y) {
        QByteArray mask(maskStride, '\0');
        for (int x = 0; x < n; ++x)
            if (qAlpha(image.pixel(x, y)) == 0)
                mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
        out.append(mask);
    }
    return out;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
    QList<QByteArray> entries;
    for (const int size : sizes) {
        const QImage image = draw(size);
        if (!image.save(QStringLiteral("%1/inkwell-%2.png").arg(dir).arg(size)))
            return 1;
        if (size == 256) {
            QBuffer png;
            png.open(QIODevice::WriteOnly);
            image.save(&png, "PNG");
            entries << png.data();
        } else {
            entries << dib(image);
        }
    }
    QByteArray ico(6, '\0');
    qToLittleEndian<quint16>(1, ico.data() + 2);
    qToLittleEndian<quint16>(quint16(entries.size()), ico.data() + 4);
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QByteArray entry(16, '\0');
        entry[0] = char(sizes[i] == 256 ? 0 : sizes[i]); // 0 means 256
        entry[1] = entry[0];
        qToLittleEndian<quint16>(1, entry.data() + 4);
        qToLittleEndian<quint16>(32, entry.data() + 6);
        qToLittleEndian<quint32>(quint32(entries[i].size()), entry.data() + 8);
        qToLittleEndian<quint32>(offset, entry.data() + 12);
        offset += quint32(entries[i].size());
        ico += entry;
    }
    for (const auto &e : entries)
        ico += e;
    QFile file(dir + QStringLiteral("/inkwell.ico"));
    return file.open(QIODevice::WriteOnly) && file.write(ico) == ico.size() ? 0 : 1;
}
