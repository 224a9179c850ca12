// The metafile player against metafiles written here record by record, with
// hostile ones among them, and against the pictures of the shared corpus.
#include "core/documentimages.h"
#include "core/metafileplayer.h"
#include "rtf/rtfreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <cstring>
#include <limits>
#include <optional>
#include <thread>

using namespace Inkwell;

namespace {

// Little-endian parameter bytes.
class Le {
public:
    Le &i16(int v)
    {
        m_bytes.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
        return *this;
    }
    Le &u32(quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes.append(char((v >> (8 * i)) & 0xff));
        return *this;
    }
    Le &i32(qint32 v) { return u32(quint32(v)); }
    Le &f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    Le &raw(QByteArrayView bytes)
    {
        m_bytes.append(bytes);
        return *this;
    }
    Le &pad(int multiple)
    {
        while (m_bytes.size() % multiple)
            m_bytes.append('\0');
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

constexpr quint32 red = 0x0000ff, black = 0x000000, blue = 0xff0000;

// A 2×2 24-bit DIB, bottom row first: top red, green; bottom blue, black.
QByteArray dib2x2()
{
    Le d;
    d.u32(40).i32(2).i32(2).i16(1).i16(24).u32(0).u32(16).i32(0).i32(0).u32(0).u32(0);
    d.raw(QByteArray::fromHex("ff0000"
                              "000000"
                              "0000")); // blue, black (BGR)
    d.raw(QByteArray::fromHex("0000ff"
                              "00ff00"
                              "0000")); // red, green
    return d.bytes();
}

// WMF writer: records of 16-bit words, the object table sized from use.
class Wmf {
public:
    Wmf &rec(int function, const QByteArray &params)
    {
        QByteArray p = params;
        if (p.size() % 2)
            p.append('\0');
        Le r;
        r.u32(quint32(3 + p.size() / 2)).i16(function).raw(p);
        m_records += r.bytes();
        return *this;
    }
    Wmf &rec(int function, std::initializer_list<int> words)
    {
        Le p;
        for (int w : words)
            p.i16(w);
        return rec(function, p.bytes());
    }
    Wmf &raw(const QByteArray &bytes)
    {
        m_records += bytes;
        return *this;
    }
    Wmf &window(int x, int y, int w, int h) { return rec(0x020B, {y, x}).rec(0x020C, {h, w}); }
    Wmf &pen(int style, int width, quint32 color)
    {
        return rec(0x02FA, Le().i16(style).i16(width).i16(0).u32(color).bytes());
    }
    Wmf &brush(int style, quint32 color)
    {
        return rec(0x02FC, Le().i16(style).u32(color).i16(0).bytes());
    }
    Wmf &font(int height, int charset, QByteArrayView face = "Arial")
    {
        Le f;
        f.i16(height).i16(0).i16(0).i16(0).i16(400);
        f.raw(QByteArray(1, 0)).raw(QByteArray(1, 0)).raw(QByteArray(1, 0));
        f.raw(QByteArray(1, char(charset))).raw(QByteArray(4, 0));
        f.raw(face).raw(QByteArray(32 - face.size(), 0));
        return rec(0x02FB, f.bytes());
    }
    Wmf &select(int index) { return rec(0x012D, {index}); }
    Wmf &rectangle(int l, int t, int r, int b) { return rec(0x041B, {b, r, t, l}); }
    // A red filled rectangle with no outline, objects 0 and 1.
    Wmf &redRect(int l, int t, int r, int b)
    {
        return pen(5, 0, 0).select(0).brush(0, red).select(1).rectangle(l, t, r, b);
    }
    QByteArray bytes(std::optional<QRect> placeable = {}, bool eof = true) const
    {
        Le out;
        if (placeable) {
            Le p;
            p.u32(0x9AC6CDD7).i16(0);
            p.i16(placeable->left()).i16(placeable->top());
            p.i16(placeable->right() + 1).i16(placeable->bottom() + 1);
            p.i16(1440).u32(0);
            quint16 sum = 0;
            const QByteArray head = p.bytes();
            for (int i = 0; i < 20; i += 2)
                sum ^= quint16(quint8(head[i]) | (quint8(head[i + 1]) << 8));
            out.raw(head).i16(sum);
        }
        const QByteArray body = m_records + (eof ? Le().u32(3).i16(0).bytes() : QByteArray());
        out.i16(1).i16(9).i16(0x300).u32(quint32(9 + body.size() / 2)).i16(16).u32(64).i16(0);
        out.raw(body);
        return out.bytes();
    }

private:
    QByteArray m_records;
};

// EMF writer; the frame is given in reference-device pixels (4 a millimetre).
class Emf {
public:
    Emf &rec(quint32 type, const QByteArray &params)
    {
        QByteArray p = params;
        while (p.size() % 4)
            p.append('\0');
        m_records += Le().u32(type).u32(quint32(8 + p.size())).raw(p).bytes();
        ++m_count;
        return *this;
    }
    Emf &rec(quint32 type, std::initializer_list<qint32> values)
    {
        Le p;
        for (qint32 v : values)
            p.i32(v);
        return rec(type, p.bytes());
    }
    Emf &raw(const QByteArray &bytes)
    {
        m_records += bytes;
        return *this;
    }
    Emf &redRect(int l, int t, int r, int b)
    {
        rec(37, {qint32(0x80000008)}); // NULL_PEN
        rec(39, {1, 0, qint32(red), 0});
        rec(37, {1});
        return rec(43, {l, t, r, b});
    }
    // Creates the font as object 2.
    Emf &font(int height, QStringView face = u"Arial", int charset = 0)
    {
        Le f;
        f.u32(2).i32(height).i32(0).i32(0).i32(0).i32(400).u32(quint32(charset) << 24).u32(0);
        for (int i = 0; i < 32; ++i)
            f.i16(i < face.size() ? face[i].unicode() : 0);
        return rec(82, f.bytes());
    }
    Emf &text(int x, int y, QStringView text, int dx = 0)
    {
        Le t;
        t.i32(0).i32(0).i32(-1).i32(-1); // bounds
        t.u32(1).f32(1).f32(1);
        t.i32(x).i32(y).u32(quint32(text.size()));
        const int stringAt = 8 + 68;
        const int dxAt = stringAt + int((text.size() * 2 + 3) / 4 * 4);
        t.u32(quint32(stringAt)).u32(0).i32(0).i32(0).i32(-1).i32(-1);
        t.u32(dx ? quint32(dxAt) : 0);
        for (QChar c : text)
            t.i16(c.unicode());
        t.pad(4);
        if (dx)
            for (qsizetype i = 0; i < text.size(); ++i)
                t.i32(dx);
        return rec(84, t.bytes());
    }
    // ExtTextOutA: 8-bit text with one advance a byte.
    Emf &text8(int x, int y, QByteArrayView text, int dx)
    {
        Le t;
        t.i32(0).i32(0).i32(-1).i32(-1).u32(1).f32(1).f32(1);
        t.i32(x).i32(y).u32(quint32(text.size()));
        const int stringAt = 8 + 68;
        const int dxAt = stringAt + int((text.size() + 3) / 4 * 4);
        t.u32(quint32(stringAt)).u32(0).i32(0).i32(0).i32(-1).i32(-1).u32(quint32(dxAt));
        t.raw(text).pad(4);
        for (qsizetype i = 0; i < text.size(); ++i)
            t.i32(dx);
        return rec(83, t.bytes());
    }
    QByteArray bytes(QRect frame = QRect(0, 0, 100, 100), bool eof = true) const
    {
        QByteArray body = m_records;
        if (eof)
            body += Le().u32(14).u32(20).u32(0).u32(16).u32(20).bytes();
        Le h;
        h.u32(1).u32(88);
        h.i32(frame.left()).i32(frame.top()).i32(frame.right()).i32(frame.bottom());
        // Frame in hundredths of a millimetre at 4 pixels a millimetre.
        h.i32(frame.left() * 25).i32(frame.top() * 25);
        h.i32((frame.right() + 1) * 25).i32((frame.bottom() + 1) * 25);
        h.u32(0x464D4520).u32(0x10000).u32(quint32(88 + body.size())).u32(quint32(m_count + 2));
        h.i16(8).i16(0).u32(0).u32(0).u32(0);
        h.i32(1000).i32(1000).i32(250).i32(250);
        return h.bytes() + body;
    }

private:
    QByteArray m_records;
    int m_count = 0;
};

enum class Expect { Red, White, Black, Blue, Green, Dark, NotDark };

struct Probe {
    QRect area;
    Expect expect;
};

bool near(QRgb pixel, int r, int g, int b)
{
    return std::abs(qRed(pixel) - r) < 40 && std::abs(qGreen(pixel) - g) < 40 &&
           std::abs(qBlue(pixel) - b) < 40;
}
bool dark(QRgb pixel)
{
    return qRed(pixel) + qGreen(pixel) + qBlue(pixel) < 300;
}

// Empty when every probe holds, else what failed.
QString check(const QImage &image, const QList<Probe> &probes)
{
    for (const Probe &probe : probes) {
        int darkPixels = 0, wrong = 0;
        for (int y = probe.area.top(); y <= probe.area.bottom(); ++y) {
            for (int x = probe.area.left(); x <= probe.area.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                darkPixels += dark(p);
                switch (probe.expect) {
                case Expect::Red:
                    wrong += !near(p, 255, 0, 0);
                    break;
                case Expect::White:
                    wrong += !near(p, 255, 255, 255);
                    break;
                case Expect::Black:
                    wrong += !near(p, 0, 0, 0);
                    break;
                case Expect::Blue:
                    wrong += !near(p, 0, 0, 255);
                    break;
                case Expect::Green:
                    wrong += !near(p, 0, 255, 0);
                    break;
                default:
                    break;
                }
            }
        }
        if (probe.expect == Expect::Dark && darkPixels == 0)
            wrong = 1;
        if (probe.expect == Expect::NotDark && darkPixels > 0)
            wrong = darkPixels;
        if (wrong > 0)
            return QStringLiteral("area (%1,%2 %3x%4) expected %5: %6 pixels differ")
                .arg(probe.area.x())
                .arg(probe.area.y())
                .arg(probe.area.width())
                .arg(probe.area.height())
                .arg(int(probe.expect))
                .arg(wrong);
    }
    return {};
}

// The DIB records of both formats.
QByteArray wmfStretchDib()
{
    const QByteArray bitmap = dib2x2();
    Le p;
    p.u32(0xCC0020).i16(0).i16(2).i16(2).i16(0).i16(0); // rop, usage, src h, w, y, x
    p.i16(1000).i16(1000).i16(0).i16(0);                // dest h, w, y, x
    p.raw(bitmap);
    return Wmf().rec(0x0F43, p.bytes()).bytes(QRect(0, 0, 1000, 1000));
}

QByteArray emfStretchDiBits()
{
    const QByteArray bitmap = dib2x2();
    Le p;
    p.i32(0).i32(0).i32(99).i32(99);             // bounds
    p.i32(0).i32(0).i32(0).i32(0).i32(2).i32(2); // dest x, y; src x, y, cx, cy
    p.u32(80).u32(40).u32(120).u32(16);          // offBmi, cbBmi, offBits, cbBits
    p.u32(0).u32(0xCC0020).i32(100).i32(100);    // usage, rop, dest cx, cy
    p.raw(bitmap);
    return Emf().rec(81, p.bytes()).bytes();
}

QByteArray gbkTextWmf(int charset)
{
    // "中文" in GBK, placed with one advance a byte.
    const QByteArray text = QByteArray::fromHex("d6d0cec4");
    Le p;
    p.i16(20).i16(10).i16(4).i16(0).raw(text).i16(15).i16(15).i16(15).i16(15);
    return Wmf()
        .window(0, 0, 100, 100)
        .font(-20, charset, "SimSun")
        .select(0)
        .rec(0x0102, {1}) // transparent
        .rec(0x0A32, p.bytes())
        .bytes();
}

QByteArray gbkTextEmf()
{
    return Emf()
        .font(-20, u"SimSun", 134)
        .rec(37, {2})
        .rec(18, {1})
        .text8(10, 20, QByteArray::fromHex("d6d0cec4"), 15)
        .bytes();
}

// An EMF blit record (AlphaBlend 114, TransparentBlt 116) of `bitmap` onto
// the whole frame, `blend` in place of the raster operation.
QByteArray emfBlit(quint32 type, const QByteArray &bitmap, int width, int height, quint32 blend)
{
    Le p;
    p.i32(0).i32(0).i32(99).i32(99).i32(0).i32(0).i32(100).i32(100).u32(blend);
    p.i32(0).i32(0).f32(1).f32(0).f32(0).f32(1).f32(0).f32(0).u32(0).u32(0);
    p.u32(8 + 100).u32(40).u32(8 + 140).u32(quint32(bitmap.size() - 40));
    p.i32(width).i32(height).raw(bitmap);
    return Emf().rec(type, p.bytes()).bytes();
}

QByteArray unicodeTextEmf()
{
    return Emf().font(-20, u"SimSun").rec(37, {2}).rec(18, {1}).text(10, 20, u"中文", 30).bytes();
}

// A WMF drawing a blue square that carries, in its comments, an EMF of a
// red one, cut in pieces of `piece` bytes; `total` the size the pieces claim.
QByteArray wmfCarryingEmf(int piece, int claimedExtra = 0)
{
    const QByteArray emf = Emf().redRect(25, 25, 75, 75).bytes();
    Wmf wmf;
    wmf.window(0, 0, 100, 100);
    for (qsizetype at = 0; at < emf.size(); at += piece) {
        const QByteArray part = emf.mid(at, piece);
        Le p;
        p.i16(0x000F).i16(int(34 + part.size())).u32(0x43464D57).u32(1).u32(0x10000).i16(0);
        p.u32(0).u32(quint32((emf.size() + piece - 1) / piece)).u32(quint32(part.size()));
        p.u32(quint32(emf.size() - at - part.size())).u32(quint32(emf.size() + claimedExtra));
        p.raw(part);
        wmf.rec(0x0626, p.bytes());
    }
    wmf.pen(5, 0, 0).select(0).brush(0, blue).select(1).rectangle(0, 0, 100, 100);
    return wmf.bytes();
}

} // namespace

class TestMetafile : public QObject {
    Q_OBJECT

private slots:
    void draws_data();
    void draws();
    void gbkTextIsDecoded();
    void hostile_data();
    void hostile();
    void keptPictureIsDrawn();
    void drawsOnAnotherThread();
    void corpus();
};

void TestMetafile::draws_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<Probe>>("probes");

    const QList<Probe> middleRed = {{QRect(30, 30, 40, 40), Expect::Red},
                                    {QRect(0, 0, 20, 20), Expect::White},
                                    {QRect(80, 80, 20, 20), Expect::White}};
    const QList<Probe> topLeftQuarterRed = {{QRect(5, 5, 40, 40), Expect::Red},
                                            {QRect(55, 55, 40, 40), Expect::White},
                                            {QRect(55, 5, 40, 40), Expect::White}};
    const QList<Probe> quadrants = {{QRect(10, 10, 30, 30), Expect::Red},
                                    {QRect(60, 10, 30, 30), Expect::Green},
                                    {QRect(10, 60, 30, 30), Expect::Blue},
                                    {QRect(60, 60, 30, 30), Expect::Black}};

    QTest::newRow("wmf placeable rectangle")
        << QByteArray("wmf")
        << Wmf().window(0, 0, 1000, 1000).redRect(250, 250, 750, 750).bytes(QRect(0, 0, 1000, 1000))
        << middleRed;
    QTest::newRow("wmf placeable, no window: frame is the logical space")
        << QByteArray("wmf") << Wmf().redRect(350, 350, 850, 850).bytes(QRect(100, 100, 1000, 1000))
        << middleRed;
    QTest::newRow("wmf window without placeable header")
        << QByteArray("wmf") << Wmf().window(100, 100, 200, 200).redRect(100, 100, 200, 200).bytes()
        << topLeftQuarterRed;
    QTest::newRow("wmf window scaled onto the placeable frame")
        << QByteArray("wmf")
        << Wmf().window(0, 0, 100, 100).redRect(0, 0, 50, 50).bytes(QRect(0, 0, 1000, 1000))
        << topLeftQuarterRed;
    QTest::newRow("wmf without window or placeable header: the shapes' bounds")
        << QByteArray("wmf") << Wmf().redRect(10, 10, 30, 30).bytes()
        << QList<Probe>{{QRect(5, 5, 90, 90), Expect::Red}};
    QTest::newRow("wmf window with the y axis up")
        << QByteArray("wmf") << Wmf().window(0, 1000, 1000, -1000).redRect(0, 0, 500, 500).bytes()
        << QList<Probe>{{QRect(5, 55, 40, 40), Expect::Red}, {QRect(5, 5, 40, 40), Expect::White}};
    QTest::newRow("wmf viewport maps the window") << QByteArray("wmf")
                                                  << Wmf()
                                                         .window(0, 0, 100, 100)
                                                         .rec(0x020D, {0, 0})
                                                         .rec(0x020E, {400, 400})
                                                         .redRect(0, 0, 50, 50)
                                                         .bytes()
                                                  << topLeftQuarterRed;
    QTest::newRow("wmf polygon, winding fill")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .pen(5, 0, 0)
               .select(0)
               .brush(0, blue)
               .select(1)
               .rec(0x0106, {2})
               .rec(0x0324, {4, 10, 10, 90, 10, 90, 90, 10, 90})
               .bytes()
        << QList<Probe>{{QRect(15, 15, 70, 70), Expect::Blue}};
    QTest::newRow("wmf polyline in a thick pen")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .pen(0, 10, black)
               .select(0)
               .rec(0x0325, {2, 0, 50, 100, 50})
               .bytes()
        << QList<Probe>{{QRect(10, 48, 80, 4), Expect::Black},
                        {QRect(10, 10, 80, 20), Expect::White}};
    QTest::newRow("wmf delete and reuse of a slot")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .pen(5, 0, 0)
               .select(0)
               .brush(0, blue) // slot 1
               .rec(0x01F0, {1})
               .brush(0, red) // slot 1 again
               .select(1)
               .rectangle(0, 0, 100, 100)
               .bytes()
        << QList<Probe>{{QRect(10, 10, 80, 80), Expect::Red}};
    QTest::newRow("wmf clip, restored by RestoreDC")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .pen(5, 0, 0)
               .select(0)
               .brush(0, red)
               .brush(0, blue)
               .select(1)
               .rec(0x001E, {})
               .rec(0x0416, {50, 50, 0, 0}) // intersect with (0,0)-(50,50)
               .rectangle(0, 0, 100, 100)
               .rec(0x0127, {-1})
               .select(2)
               .rectangle(60, 60, 100, 100)
               .bytes()
        << QList<Probe>{{QRect(5, 5, 40, 40), Expect::Red},
                        {QRect(52, 5, 45, 40), Expect::White},
                        {QRect(65, 65, 30, 30), Expect::Blue}};
    QTest::newRow("wmf ASCII text")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .font(-30, 0)
               .select(0)
               .rec(0x0102, {1})
               .rec(0x0521, Le().i16(4).raw("HHHH").i16(10).i16(10).bytes())
               .bytes()
        << QList<Probe>{{QRect(10, 10, 60, 30), Expect::Dark},
                        {QRect(0, 50, 100, 50), Expect::NotDark}};
    QTest::newRow("wmf text aligned to its baseline and right")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .font(-30, 0)
               .select(0)
               .rec(0x0102, {1})
               .rec(0x012E, {24 | 2})
               .rec(0x0521, Le().i16(4).raw("HHHH").i16(90).i16(90).bytes())
               .bytes()
        << QList<Probe>{{QRect(20, 60, 70, 29), Expect::Dark},
                        {QRect(0, 0, 100, 50), Expect::NotDark},
                        {QRect(92, 0, 8, 100), Expect::NotDark}};
    QTest::newRow("wmf GBK text") << QByteArray("wmf") << gbkTextWmf(134)
                                  << QList<Probe>{{QRect(10, 20, 40, 20), Expect::Dark},
                                                  {QRect(0, 0, 100, 18), Expect::NotDark},
                                                  {QRect(0, 50, 100, 50), Expect::NotDark}};
    QTest::newRow("wmf StretchDIB") << QByteArray("wmf") << wmfStretchDib() << quadrants;
    QTest::newRow("wmf carrying its EMF draws the EMF")
        << QByteArray("wmf") << wmfCarryingEmf(40) << middleRed;
    QTest::newRow("wmf carrying an incomplete EMF draws itself")
        << QByteArray("wmf") << wmfCarryingEmf(40, 8)
        << QList<Probe>{{QRect(0, 0, 100, 100), Expect::Blue}};
    QTest::newRow("wmf DIBStretchBlt") << QByteArray("wmf")
                                       << Wmf()
                                              .rec(0x0B41, Le().u32(0xCC0020)
                                                               .i16(2)
                                                               .i16(2)
                                                               .i16(0)
                                                               .i16(0)
                                                               .i16(1000)
                                                               .i16(1000)
                                                               .i16(0)
                                                               .i16(0)
                                                               .raw(dib2x2())
                                                               .bytes())
                                              .bytes(QRect(0, 0, 1000, 1000))
                                       << quadrants;
    QTest::newRow("wmf PatBlt with the brush")
        << QByteArray("wmf")
        << Wmf()
               .window(0, 0, 100, 100)
               .brush(0, red)
               .select(0)
               .rec(0x061D, Le().u32(0xF00021).i16(50).i16(50).i16(0).i16(0).bytes())
               .bytes()
        << topLeftQuarterRed;

    QTest::newRow("emf rectangle")
        << QByteArray("emf") << Emf().redRect(25, 25, 75, 75).bytes() << middleRed;
    QTest::newRow("emf frame offset")
        << QByteArray("emf") << Emf().redRect(125, 125, 175, 175).bytes(QRect(100, 100, 100, 100))
        << middleRed;
    QTest::newRow("emf anisotropic window and viewport") << QByteArray("emf")
                                                         << Emf()
                                                                .rec(17, {8})
                                                                .rec(9, {1000, 1000})
                                                                .rec(11, {100, 100})
                                                                .redRect(0, 0, 500, 500)
                                                                .bytes()
                                                         << topLeftQuarterRed;
    QTest::newRow("emf viewport origin")
        << QByteArray("emf") << Emf().rec(12, {50, 50}).redRect(-50, -50, 0, 0).bytes()
        << topLeftQuarterRed;
    QTest::newRow("emf himetric map mode, y up")
        << QByteArray("emf")
        << Emf()
               .rec(17, {3})
               .rec(12, {0, 100})
               .redRect(0, 0, 1250, 1250) // 12.5 mm = 50 px up from the bottom
               .bytes()
        << QList<Probe>{{QRect(5, 55, 40, 40), Expect::Red}, {QRect(5, 5, 40, 40), Expect::White}};
    QTest::newRow("emf world transform")
        << QByteArray("emf")
        << Emf()
               .rec(35, Le().f32(0.5f).f32(0).f32(0).f32(0.5f).f32(0).f32(0).bytes())
               .redRect(0, 0, 100, 100)
               .bytes()
        << topLeftQuarterRed;
    QTest::newRow("emf modified world transform")
        << QByteArray("emf")
        << Emf()
               .rec(36, Le().f32(1).f32(0).f32(0).f32(1).f32(50).f32(50).u32(4).bytes())
               .rec(36, Le().f32(0.5f).f32(0).f32(0).f32(0.5f).f32(0).f32(0).u32(2).bytes())
               .redRect(0, 0, 100, 100)
               .bytes()
        << QList<Probe>{{QRect(55, 55, 40, 40), Expect::Red}, {QRect(5, 5, 40, 40), Expect::White}};
    QTest::newRow("emf stock black brush")
        << QByteArray("emf") << Emf().rec(37, {qint32(0x80000004)}).rec(43, {0, 0, 50, 50}).bytes()
        << QList<Probe>{{QRect(5, 5, 40, 40), Expect::Black},
                        {QRect(60, 60, 35, 35), Expect::White}};
    QTest::newRow("emf Polygon16") << QByteArray("emf")
                                   << Emf()
                                          .rec(37, {qint32(0x80000008)})
                                          .rec(39, {1, 0, qint32(blue), 0})
                                          .rec(37, {1})
                                          .rec(86, Le().i32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .u32(3)
                                                       .i16(0)
                                                       .i16(0)
                                                       .i16(100)
                                                       .i16(0)
                                                       .i16(0)
                                                       .i16(100)
                                                       .bytes())
                                          .bytes()
                                   << QList<Probe>{{QRect(5, 5, 30, 30), Expect::Blue},
                                                   {QRect(70, 70, 25, 25), Expect::White}};
    QTest::newRow("emf PolyPolygon16 with a hole")
        << QByteArray("emf")
        << Emf()
               .rec(37, {qint32(0x80000008)})
               .rec(39, {1, 0, qint32(blue), 0})
               .rec(37, {1})
               .rec(91, Le().i32(0)
                            .i32(0)
                            .i32(0)
                            .i32(0)
                            .u32(2)
                            .u32(8)
                            .u32(4)
                            .u32(4)
                            .i16(0)
                            .i16(0)
                            .i16(100)
                            .i16(0)
                            .i16(100)
                            .i16(100)
                            .i16(0)
                            .i16(100)
                            .i16(25)
                            .i16(25)
                            .i16(75)
                            .i16(25)
                            .i16(75)
                            .i16(75)
                            .i16(25)
                            .i16(75)
                            .bytes())
               .bytes()
        << QList<Probe>{{QRect(3, 3, 15, 15), Expect::Blue},
                        {QRect(35, 35, 30, 30), Expect::White}};
    QTest::newRow("emf path filled") << QByteArray("emf")
                                     << Emf()
                                            .rec(39, {1, 0, qint32(red), 0})
                                            .rec(37, {1})
                                            .rec(59, {})
                                            .rec(27, {0, 0})
                                            .rec(54, {50, 0})
                                            .rec(54, {50, 50})
                                            .rec(54, {0, 50})
                                            .rec(61, {})
                                            .rec(60, {})
                                            .rec(62, {0, 0, 50, 50})
                                            .bytes()
                                     << topLeftQuarterRed;
    QTest::newRow("emf lines") << QByteArray("emf")
                               << Emf()
                                      .rec(38, {1, 0, 6, 0, qint32(black)})
                                      .rec(37, {1})
                                      .rec(27, {0, 50})
                                      .rec(54, {100, 50})
                                      .bytes()
                               << QList<Probe>{{QRect(5, 49, 90, 2), Expect::Black},
                                               {QRect(5, 5, 90, 30), Expect::White}};
    QTest::newRow("emf clip rectangle and SaveDC")
        << QByteArray("emf")
        << Emf()
               .rec(33, {})
               .rec(30, {0, 0, 50, 50})
               .redRect(0, 0, 100, 100)
               .rec(34, {-1})
               .rec(37, {1}) // RestoreDC put back the white brush
               .rec(43, {80, 80, 100, 100})
               .bytes()
        << QList<Probe>{{QRect(5, 5, 40, 40), Expect::Red},
                        {QRect(55, 5, 40, 40), Expect::White},
                        {QRect(85, 85, 10, 10), Expect::Red}};
    QTest::newRow("emf ExtTextOutW")
        << QByteArray("emf")
        << Emf().font(-30).rec(37, {2}).rec(18, {1}).text(10, 10, u"HHHH").bytes()
        << QList<Probe>{{QRect(10, 10, 60, 30), Expect::Dark},
                        {QRect(0, 50, 100, 50), Expect::NotDark}};
    QTest::newRow("emf ExtTextOutW with advances")
        << QByteArray("emf")
        << Emf().font(-20).rec(37, {2}).rec(18, {1}).text(0, 10, u"IIII", 20).bytes()
        << QList<Probe>{{QRect(60, 10, 20, 20), Expect::Dark},
                        {QRect(82, 0, 18, 100), Expect::NotDark}};
    QTest::newRow("emf StretchDIBits") << QByteArray("emf") << emfStretchDiBits() << quadrants;
    {
        // 1×2, 32-bit premultiplied: the top pixel opaque red, the bottom
        // one clear (rows bottom first).
        Le bitmap;
        bitmap.u32(40).i32(1).i32(2).i16(1).i16(32).u32(0).u32(8).i32(0).i32(0).u32(0).u32(0);
        bitmap.u32(0x00000000).u32(0xffff0000);
        QTest::newRow("emf AlphaBlend with source alpha")
            << QByteArray("emf") << emfBlit(114, bitmap.bytes(), 1, 2, 0x01ff0000)
            << QList<Probe>{{QRect(5, 5, 90, 40), Expect::Red},
                            {QRect(5, 55, 90, 40), Expect::White}};
    }
    QTest::newRow("emf TransparentBlt leaves out its colour")
        << QByteArray("emf") << emfBlit(116, dib2x2(), 2, 2, black)
        << QList<Probe>{{QRect(10, 10, 30, 30), Expect::Red},
                        {QRect(10, 60, 30, 30), Expect::Blue},
                        {QRect(60, 60, 30, 30), Expect::White}};
    QTest::newRow("emf plus comment is skipped")
        << QByteArray("emf")
        << Emf()
               .rec(70, Le().u32(16).u32(0x2B464D45).u32(0xffffffff).u32(0).bytes())
               .redRect(25, 25, 75, 75)
               .bytes()
        << middleRed;
}

void TestMetafile::draws()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, bytes);
    QFETCH(QList<Probe>, probes);
    const QImage image = MetafilePlayer::render(bytes, format, QSize(100, 100));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(100, 100));
    const QString failed = check(image, probes);
    if (!failed.isEmpty()) {
        image.save(
            QDir::temp().filePath(QStringLiteral("tst_metafile-%1.png")
                                      .arg(QString::fromLatin1(QTest::currentDataTag())
                                               .replace(QLatin1Char(' '), QLatin1Char('_'))
                                               .replace(QLatin1Char('/'), QLatin1Char('_')))));
        QFAIL(qPrintable(failed));
    }
}

// GBK bytes in a font of the GB2312 charset draw the same characters as
// the Unicode text of an EMF, and not what the bytes mean in cp1252.
void TestMetafile::gbkTextIsDecoded()
{
    const QImage gbk = MetafilePlayer::render(gbkTextWmf(134), "wmf", QSize(100, 100));
    const QImage western = MetafilePlayer::render(gbkTextWmf(0), "wmf", QSize(100, 100));
    const QImage unicode = MetafilePlayer::render(unicodeTextEmf(), "emf", QSize(100, 100));
    QVERIFY(!gbk.isNull() && !western.isNull() && !unicode.isNull());
    QCOMPARE(gbk, unicode);
    QCOMPARE(MetafilePlayer::render(gbkTextEmf(), "emf", QSize(100, 100)), unicode);
    QVERIFY(gbk != western);
}

void TestMetafile::hostile_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("bytes");
    // Whether the red rectangle drawn before the fault still shows.
    QTest::addColumn<bool>("drawn");

    const Wmf good = Wmf().window(0, 0, 100, 100).redRect(0, 0, 100, 100);
    QTest::newRow("wmf empty") << QByteArray("wmf") << QByteArray() << false;
    QTest::newRow("wmf garbage") << QByteArray("wmf") << QByteArray(500, '\x5a') << false;
    QTest::newRow("wmf header only")
        << QByteArray("wmf") << Wmf().bytes(QRect(0, 0, 10, 10)) << false;
    QTest::newRow("wmf no frame at all")
        << QByteArray("wmf")
        << Wmf().pen(0, 0, 0).select(0).rec(0x0214, {5, 5}).rec(0x0213, {5, 5}).bytes() << false;
    QTest::newRow("wmf truncated record") << QByteArray("wmf")
                                          << Wmf(good)
                                                 .raw(Le().u32(10).i16(0x041B).i16(5).bytes())
                                                 .bytes(QRect(0, 0, 100, 100), false)
                                          << true;
    QTest::newRow("wmf record size 0")
        << QByteArray("wmf")
        << Wmf(good).raw(Le().u32(0).i16(0x041B).bytes()).rectangle(0, 0, 1, 1).bytes() << true;
    QTest::newRow("wmf record size past the end")
        << QByteArray("wmf")
        << Wmf(good)
               .raw(Le().u32(0x7fffffff).i16(0x0324).i16(3).bytes())
               .bytes(QRect(0, 0, 100, 100), false)
        << true;
    QTest::newRow("wmf huge polygon count")
        << QByteArray("wmf") << Wmf(good).rec(0x0324, {32767, 1, 1, 5, 5}).bytes() << true;
    QTest::newRow("wmf huge polypolygon counts")
        << QByteArray("wmf")
        << Wmf(good).rec(0x0538, {2, 32767, 32767, 1, 1}).rec(0x0538, {-1}).bytes() << true;
    QTest::newRow("wmf huge text count") << QByteArray("wmf")
                                         << Wmf(good)
                                                .font(-10, 0)
                                                .select(2)
                                                .rec(0x0A32, {0, 0, 32767, 6, 0, 0, 0, 0, 0x4141})
                                                .rec(0x0521, {-5})
                                                .bytes()
                                         << true;
    QTest::newRow("wmf huge DIB") << QByteArray("wmf")
                                  << Wmf(good)
                                         .rec(0x0F43, Le().u32(0xCC0020)
                                                          .i16(0)
                                                          .i16(30000)
                                                          .i16(30000)
                                                          .i16(0)
                                                          .i16(0)
                                                          .i16(100)
                                                          .i16(100)
                                                          .i16(0)
                                                          .i16(0)
                                                          .u32(40)
                                                          .i32(30000)
                                                          .i32(30000)
                                                          .i16(1)
                                                          .i16(32)
                                                          .u32(0)
                                                          .u32(0)
                                                          .bytes())
                                         .bytes()
                                  << true;
    {
        Wmf deep = Wmf().window(0, 0, 100, 100);
        for (int i = 0; i < 5000; ++i)
            deep.rec(0x001E, {});
        deep.redRect(0, 0, 100, 100);
        for (int i = 0; i < 3000; ++i)
            deep.rec(0x0127, {-1});
        deep.rec(0x0127, {-30000}).rec(0x0127, {30000}).rec(0x0127, {0});
        QTest::newRow("wmf deep SaveDC") << QByteArray("wmf") << deep.bytes() << true;
    }
    QTest::newRow("wmf object index out of range") << QByteArray("wmf")
                                                   << Wmf(good)
                                                          .rec(0x012D, {-1})
                                                          .rec(0x012D, {60000})
                                                          .rec(0x01F0, {-1})
                                                          .rec(0x01F0, {4000})
                                                          .bytes()
                                                   << true;
    {
        Wmf many = Wmf(good);
        for (int i = 0; i < 6000; ++i)
            many.brush(0, blue);
        many.select(5000).rectangle(0, 0, 10, 10);
        QTest::newRow("wmf object table overflow") << QByteArray("wmf") << many.bytes() << true;
    }
    QTest::newRow("wmf picture of no size") << QByteArray("wmf")
                                            << Wmf()
                                                   .window(0, 0, 100, 100)
                                                   .rec(0x0F43, Le().u32(0xCC0020)
                                                                    .i16(0)
                                                                    .i16(2)
                                                                    .i16(2)
                                                                    .i16(0)
                                                                    .i16(0)
                                                                    .i16(0)
                                                                    .i16(0)
                                                                    .i16(0)
                                                                    .i16(0)
                                                                    .raw(dib2x2())
                                                                    .bytes())
                                                   .bytes()
                                            << false;
    QTest::newRow("wmf zero window extent")
        << QByteArray("wmf") << Wmf(good).rec(0x020C, {0, 0}).rectangle(0, 0, 5, 5).bytes() << true;
    QTest::newRow("wmf huge coordinates") << QByteArray("wmf")
                                          << Wmf(good)
                                                 .rec(0x020C, {1, 1})
                                                 .rec(0x0418, {32767, 32767, -32768, -32768})
                                                 .rec(0x0325, {2, -32768, -32768, 32767, 32767})
                                                 .bytes()
                                          << true;

    const Emf emfGood = Emf().redRect(0, 0, 100, 100);
    QTest::newRow("emf empty") << QByteArray("emf") << QByteArray() << false;
    QTest::newRow("emf header only") << QByteArray("emf") << Emf().bytes() << false;
    QTest::newRow("emf bad signature")
        << QByteArray("emf") << Emf(emfGood).bytes().replace(40, 4, "XXXX") << false;
    QTest::newRow("emf empty frame and bounds")
        << QByteArray("emf")
        << Emf(emfGood).bytes().replace(
               8, 32, Le().i32(0).i32(0).i32(-1).i32(-1).bytes() + QByteArray(16, 0))
        << false;
    QTest::newRow("emf record size 0")
        << QByteArray("emf") << Emf(emfGood).raw(Le().u32(43).u32(0).bytes()).bytes() << true;
    QTest::newRow("emf record size past the end") << QByteArray("emf")
                                                  << Emf(emfGood)
                                                         .raw(Le().u32(43).u32(0xfffffff0).bytes())
                                                         .bytes(QRect(0, 0, 100, 100), false)
                                                  << true;
    QTest::newRow("emf truncated record")
        << QByteArray("emf")
        << Emf(emfGood).raw(Le().u32(43).u32(24).i32(1).bytes()).bytes(QRect(0, 0, 100, 100), false)
        << true;
    QTest::newRow("emf huge point counts")
        << QByteArray("emf")
        << Emf(emfGood)
               .rec(86, Le().i32(0).i32(0).i32(0).i32(0).u32(0xffffffff).i16(1).i16(1).bytes())
               .rec(91, Le().i32(0).i32(0).i32(0).i32(0).u32(0x40000000).u32(5).u32(5).bytes())
               .rec(8,
                    Le().i32(0).i32(0).i32(0).i32(0).u32(2).u32(5).u32(0x7fffffff).u32(5).bytes())
               .bytes()
        << true;
    QTest::newRow("emf huge text") << QByteArray("emf")
                                   << Emf(emfGood)
                                          .font(-10)
                                          .rec(37, {2})
                                          .rec(84, Le().i32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .u32(1)
                                                       .f32(1)
                                                       .f32(1)
                                                       .i32(0)
                                                       .i32(0)
                                                       .u32(0x7fffffff)
                                                       .u32(76)
                                                       .u32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .i32(0)
                                                       .u32(0xfffffff0)
                                                       .bytes())
                                          .font(2000000000)
                                          .rec(37, {2})
                                          .text(50, 50, u"x")
                                          .bytes()
                                   << true;
    {
        // A font turned by the most negative escapement, text in it, and a
        // RestoreDC of the most negative level.
        Le font;
        font.u32(3).i32(-20).i32(0).i32(qint32(0x80000000)).i32(0).i32(400).u32(0).u32(0);
        font.raw(QByteArray(64, 0));
        QTest::newRow("emf extreme escapement and RestoreDC") << QByteArray("emf")
                                                              << Emf(emfGood)
                                                                     .rec(82, font.bytes())
                                                                     .rec(37, {3})
                                                                     .text(50, 50, u"x")
                                                                     .rec(34, {qint32(0x80000000)})
                                                                     .bytes()
                                                              << true;
    }
    QTest::newRow("emf huge DIB") << QByteArray("emf")
                                  << Emf(emfGood)
                                         .rec(81, Le().i32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .i32(1)
                                                      .i32(1)
                                                      .u32(80)
                                                      .u32(40)
                                                      .u32(120)
                                                      .u32(0x7fffffff)
                                                      .u32(0)
                                                      .u32(0xCC0020)
                                                      .i32(10)
                                                      .i32(10)
                                                      .u32(40)
                                                      .i32(0x7fffffff)
                                                      .i32(-0x7fffffff)
                                                      .i16(1)
                                                      .i16(32)
                                                      .u32(0)
                                                      .u32(0)
                                                      .i32(0)
                                                      .i32(0)
                                                      .u32(0)
                                                      .u32(0)
                                                      .bytes())
                                         .bytes()
                                  << true;
    {
        Emf deep = Emf();
        for (int i = 0; i < 5000; ++i)
            deep.rec(33, {});
        deep.redRect(0, 0, 100, 100);
        for (int i = 0; i < 3000; ++i)
            deep.rec(34, {-1});
        deep.rec(34, {qint32(0x80000000)}).rec(34, {0x7fffffff}).rec(34, {1});
        QTest::newRow("emf deep SaveDC") << QByteArray("emf") << deep.bytes() << true;
    }
    QTest::newRow("emf object index out of range") << QByteArray("emf")
                                                   << Emf(emfGood)
                                                          .rec(37, {qint32(0xffffffff)})
                                                          .rec(37, {0x7fffffff})
                                                          .rec(40, {qint32(0x80000000)})
                                                          .rec(37, {0})
                                                          .bytes()
                                                   << true;
    QTest::newRow("emf singular and non-finite transforms")
        << QByteArray("emf")
        << Emf(emfGood)
               .rec(35, Le().f32(0).f32(0).f32(0).f32(0).f32(0).f32(0).bytes())
               .rec(35, Le().f32(std::numeric_limits<float>::quiet_NaN())
                            .f32(0)
                            .f32(0)
                            .f32(1)
                            .f32(0)
                            .f32(0)
                            .bytes())
               .rec(36, Le().f32(std::numeric_limits<float>::infinity())
                            .f32(0)
                            .f32(0)
                            .f32(1)
                            .f32(0)
                            .f32(0)
                            .u32(2)
                            .bytes())
               .rec(17, {8})
               .rec(9, {0, 0})
               .rec(11, {0x7fffffff, 1})
               .rec(43, {-0x7fffffff, -0x7fffffff, 0x7fffffff, 0x7fffffff})
               .rec(42, {-0x7fffffff, -0x7fffffff, 0x7fffffff, 0x7fffffff})
               .bytes()
        << true;
    {
        // Many full-picture fills: the painting budget ends the play.
        Emf heavy = Emf(emfGood);
        for (int i = 0; i < 200000; ++i)
            heavy.rec(43, {0, 0, 100, 100});
        QTest::newRow("emf many fills") << QByteArray("emf") << heavy.bytes() << true;
    }
}

void TestMetafile::hostile()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, drawn);
    const QSize size(100, 100);
    const QImage image = MetafilePlayer::render(bytes, format, size);
    if (!drawn) {
        QVERIFY(image.isNull());
        return;
    }
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    QVERIFY(near(image.pixel(2, 2), 255, 0, 0));
}

// A kept metafile registered in a document shows as its drawing, its bytes
// unchanged; one that cannot be drawn keeps the framed placeholder.
void TestMetafile::keptPictureIsDrawn()
{
    const QByteArray wmf =
        Wmf().window(0, 0, 1000, 1000).redRect(250, 250, 750, 750).bytes(QRect(0, 0, 1000, 1000));
    QTextDocument document;
    const QTextImageFormat shown =
        DocumentImages::addKept(&document, QSize(100, 100), wmf, "wmf", "\\wmetafile8", true);
    const auto picture = DocumentImages::find(&document, shown.name());
    QVERIFY(picture);
    QCOMPARE(picture->encoded, wmf);
    QVERIFY(!picture->image.isNull());
    QVERIFY(near(picture->image.pixel(50, 50), 255, 0, 0));
    QCOMPARE(picture->image.size(), QSize(100, 100));

    const QByteArray broken = wmf.left(40);
    const QTextImageFormat framed =
        DocumentImages::addKept(&document, QSize(100, 100), broken, "wmf", "\\wmetafile8", true);
    const auto placeholder = DocumentImages::find(&document, framed.name());
    QVERIFY(placeholder);
    QCOMPARE(placeholder->encoded, broken);
    QCOMPARE(placeholder->image, DocumentImages::placeholder(QSize(100, 100)));
}

// The reader may run on a worker thread: the picture drawn there, text
// included, is the one drawn here.
void TestMetafile::drawsOnAnotherThread()
{
    const QByteArray wmf = gbkTextWmf(134);
    const QByteArray emf = emfStretchDiBits();
    QImage text, bitmap;
    std::thread worker([&] {
        text = MetafilePlayer::render(wmf, "wmf", QSize(100, 100));
        bitmap = MetafilePlayer::render(emf, "emf", QSize(100, 100));
    });
    worker.join();
    QVERIFY(!text.isNull() && !bitmap.isNull());
    QCOMPARE(text, MetafilePlayer::render(wmf, "wmf", QSize(100, 100)));
    QCOMPARE(bitmap, MetafilePlayer::render(emf, "emf", QSize(100, 100)));
}

// The metafiles of the shared corpus: each that holds drawing records draws;
// the pictures are written to INKWELL_SHOTS_DIR when it is set, to look at.
void TestMetafile::corpus()
{
    const QString shared = qEnvironmentVariable("INKWELL_SHARED_DIR");
    const QDir corpusDir(shared + QStringLiteral("/corpus"));
    if (shared.isEmpty() || !corpusDir.exists())
        QSKIP("the shared corpus is not there");
    const QString shots = qEnvironmentVariable("INKWELL_SHOTS_DIR");
    // A picture that is no metafile one can draw: a 4-byte stub.
    const QStringList undrawable = {QStringLiteral("tika-testBinControlWord.rtf#0")};
    int pictures = 0;
    for (const QString &sub : {QStringLiteral("rtf"), QStringLiteral("rtf-rich")}) {
        const QDir dir(corpusDir.filePath(sub));
        for (const QFileInfo &info : dir.entryInfoList({QStringLiteral("*.rtf")}, QDir::Files)) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray rtf = file.readAll();
            if (!rtf.contains("\\wmetafile") && !rtf.contains("\\emfblip"))
                continue;
            QTextDocument document;
            QTextCursor cursor(&document);
            QVERIFY(Rtf::read(rtf, cursor, 936).ok);
            int index = 0;
            for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
                for (auto it = block.begin(); !it.atEnd(); ++it) {
                    const QTextCharFormat format = it.fragment().charFormat();
                    if (!format.isImageFormat())
                        continue;
                    const auto picture =
                        DocumentImages::find(&document, format.toImageFormat().name());
                    if (!picture || (picture->format != "wmf" && picture->format != "emf"))
                        continue;
                    const QString name =
                        info.fileName() + QLatin1Char('#') + QString::number(index++);
                    const QImage image = MetafilePlayer::render(picture->encoded, picture->format,
                                                                picture->keptSize);
                    ++pictures;
                    if (!shots.isEmpty() && !image.isNull())
                        image.save(QDir(shots).filePath(info.completeBaseName() + QLatin1Char('-') +
                                                        QString::number(index - 1) +
                                                        QStringLiteral(".png")));
                    QVERIFY2(image.isNull() == undrawable.contains(name), qPrintable(name));
                    if (!image.isNull())
                        QCOMPARE(picture->image, image);
                }
            }
        }
    }
    QVERIFY(pictures >= 5);
}

QTEST_MAIN(TestMetafile)

#include "tst_metafile.moc"
