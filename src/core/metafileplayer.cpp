#include "core/metafileplayer.h"

#include "core/documentimages.h"
#include "platform/codepage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace Inkwell::MetafilePlayer {

namespace {

// Little-endian reads that give 0 past the end, so a short record reads as
// zeros instead of reading out of bounds; callers check lengths that matter.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(QByteArrayView data) : m_data(data) {}

    qsizetype size() const { return m_data.size(); }
    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_data.size() &&
               length <= m_data.size() - offset;
    }
    Bytes mid(qint64 offset, qint64 length) const
    {
        if (!has(offset, length))
            return {};
        return Bytes(m_data.sliced(offset, length));
    }
    QByteArrayView view() const { return m_data; }

    quint8 u8(qint64 at) const { return has(at, 1) ? quint8(m_data[at]) : 0; }
    quint16 u16(qint64 at) const { return quint16(u8(at) | (u8(at + 1) << 8)); }
    qint16 i16(qint64 at) const { return qint16(u16(at)); }
    quint32 u32(qint64 at) const { return quint32(u16(at)) | (quint32(u16(at + 2)) << 16); }
    qint32 i32(qint64 at) const { return qint32(u32(at)); }
    float f32(qint64 at) const
    {
        const quint32 bits = u32(at);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    QByteArrayView m_data;
};

QColor colorRef(quint32 value)
{
    return QColor(int(value & 0xff), int((value >> 8) & 0xff), int((value >> 16) & 0xff));
}

bool finite(const QTransform &t)
{
    const double values[] = {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(),
                             t.m23(), t.m31(), t.m32(), t.m33()};
    return std::all_of(std::begin(values), std::end(values),
                       [](double v) { return std::isfinite(v) && std::abs(v) < 1e12; });
}

// ---- Device-independent bitmaps ------------------------------------------

// Decodes a DIB (BITMAPINFO followed by its bits, or the bits apart) by
// giving Qt's BMP reader the file header it lacks. Checked first: the size
// against the picture limits and the pixel budget, and that uncompressed
// bits are all there.
QImage decodeDib(Bytes info, Bytes bits, qint64 &pixelBudget, bool alpha = false)
{
    const quint32 headerSize = info.u32(0);
    qint64 width = 0, height = 0;
    int bitCount = 0;
    quint32 compression = 0, colorsUsed = 0;
    qint64 colorBytes = 0;
    if (headerSize == 12) {
        width = info.u16(4);
        height = info.u16(6);
        bitCount = info.u16(10);
        colorBytes = bitCount <= 8 ? (qint64(1) << bitCount) * 3 : 0;
    } else if (headerSize >= 40 && headerSize <= 124) {
        width = info.i32(4);
        height = info.i32(8);
        bitCount = info.u16(14);
        compression = info.u32(16);
        colorsUsed = info.u32(32);
        if (bitCount <= 8)
            colorBytes = 4 * (colorsUsed > 0 && colorsUsed < (1u << bitCount) ? colorsUsed
                                                                              : (1u << bitCount));
        else if (colorsUsed > 0 && colorsUsed <= 256)
            colorBytes = 4 * qint64(colorsUsed);
        if (headerSize == 40 && (compression == 3 || compression == 6))
            colorBytes += compression == 3 ? 12 : 16;
    } else {
        return {};
    }
    const qint64 rows = std::abs(height);
    if (width <= 0 || rows <= 0 || width > DocumentImages::maxSide ||
        rows > DocumentImages::maxSide || width * rows > DocumentImages::maxPixels ||
        width * rows > pixelBudget)
        return {};
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return {};
    if (compression != 0 && compression != 1 && compression != 2 && compression != 3)
        return {};
    const qint64 tableEnd = qint64(headerSize) + colorBytes;
    QByteArrayView header, pixels;
    if (bits.size() == 0) {
        // The bits follow the header and colour table.
        if (!info.has(0, tableEnd))
            return {};
        header = info.view().first(tableEnd);
        pixels = info.view().sliced(tableEnd);
    } else {
        if (!info.has(0, std::min<qint64>(tableEnd, info.size())))
            return {};
        header = info.view().first(std::min<qint64>(tableEnd, info.size()));
        pixels = bits.view();
    }
    if (compression == 0 || compression == 3) {
        const qint64 stride = ((width * bitCount + 31) / 32) * 4;
        if (stride * rows > pixels.size())
            return {};
    }
    pixelBudget -= width * rows;
    if (alpha && bitCount == 32 && compression == 0) {
        // Premultiplied BGRA, as AlphaBlend takes it: Qt's BMP reader would
        // drop the alpha.
        QImage image(int(width), int(rows), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return {};
        for (qint64 y = 0; y < rows; ++y) {
            const qint64 from = height > 0 ? rows - 1 - y : y;
            std::memcpy(image.scanLine(int(y)), pixels.data() + from * width * 4,
                        std::size_t(width) * 4);
        }
        return image;
    }

    QByteArray file;
    const qint64 fileSize = 14 + qint64(header.size()) + pixels.size();
    if (fileSize > DocumentImages::maxEncodedBytes)
        return {};
    file.reserve(qsizetype(fileSize));
    file.append("BM");
    auto put32 = [&file](quint32 v) {
        for (int i = 0; i < 4; ++i)
            file.append(char((v >> (8 * i)) & 0xff));
    };
    put32(quint32(fileSize));
    put32(0);
    put32(quint32(14 + header.size()));
    file.append(header);
    file.append(pixels);
    QImage image;
    if (!image.loadFromData(file, "BMP"))
        return {};
    return image.convertToFormat(QImage::Format_RGB32);
}

// ---- The device context --------------------------------------------------

struct Pen {
    bool none = false;
    int style = 0;    // PS_SOLID, PS_DASH, ...
    double width = 0; // logical units; 0 is one pixel
    QColor color = Qt::black;
};

struct Brush {
    bool none = false;
    QBrush brush{Qt::white};
};

struct Font {
    double height = 0;  // logical units; negative is the character height
    int escapement = 0; // tenths of a degree
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 1;
    QString face;
};

struct Object {
    enum Kind { PenKind, BrushKind, FontKind, OtherKind } kind = OtherKind;
    Pen pen;
    Brush brush;
    Font font;
};

enum MapMode {
    MmText = 1,
    MmLoMetric,
    MmHiMetric,
    MmLoEnglish,
    MmHiEnglish,
    MmTwips,
    MmIsotropic,
    MmAnisotropic
};

struct State {
    Pen pen;
    Brush brush;
    Font font;
    QColor textColor = Qt::black;
    QColor backColor = Qt::white;
    bool opaque = true;
    int textAlign = 0;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int mapMode = MmText;
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt{1, 1}, viewportExt{1, 1};
    bool windowOrgSet = false, windowExtSet = false, viewportOrgSet = false, viewportExtSet = false;
    QTransform world;
    QPointF position;
};

// Text alignment and ExtTextOut option bits shared by both formats.
constexpr int taUpdateCp = 1, taRight = 2, taCenter = 6, taBottom = 8, taBaseline = 24;
constexpr int etoOpaque = 2, etoClipped = 4;

class Player {
public:
    Player(QImage &image, bool emf) : m_image(image), m_emf(emf), m_painter(&image)
    {
        m_painter.setRenderHint(QPainter::Antialiasing);
        m_painter.setRenderHint(QPainter::TextAntialiasing);
        m_painter.setClipRect(image.rect());
        m_painter.setClipping(false);
        m_canDrawText = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    }

    bool drew() const { return m_drew; }
    bool stopped() const { return m_stopped; }

    // The frame, in the reference space the page transform maps into, and
    // (EMF) the reference device's pixels per millimetre.
    void setFrame(const QRectF &frame, QSizeF pixelsPerMm = {})
    {
        m_frame = frame;
        m_pixelsPerMm = pixelsPerMm;
        m_toImage = QTransform::fromScale(m_image.width() / frame.width(),
                                          m_image.height() / frame.height());
        m_toImage.translate(-frame.left(), -frame.top());
    }

    // Counts one record; false once the record cap is reached.
    bool nextRecord()
    {
        if (++m_records > maxRecords)
            m_stopped = true;
        return !m_stopped;
    }

    State &state() { return m_state; }

    // ---- Objects ----
    void store(quint32 index, const Object &object)
    {
        if (!m_objects.contains(index) && m_objects.size() >= maxObjects)
            return;
        m_objects.insert(index, object);
    }
    void remove(quint32 index) { m_objects.remove(index); }
    void select(quint32 index)
    {
        const auto found = m_objects.constFind(index);
        if (found == m_objects.cend())
            return;
        switch (found->kind) {
        case Object::PenKind:
            m_state.pen = found->pen;
            break;
        case Object::BrushKind:
            m_state.brush = found->brush;
            break;
        case Object::FontKind:
            m_state.font = found->font;
            break;
        case Object::OtherKind:
            break;
        }
    }
    // WMF objects go to the lowest free slot of the table.
    quint32 freeSlot()
    {
        if (!m_freed.empty()) {
            const quint32 slot = *m_freed.begin();
            m_freed.erase(m_freed.begin());
            return slot;
        }
        return m_nextSlot < quint32(maxObjects) ? m_nextSlot++ : quint32(maxObjects);
    }
    void freeSlotOf(quint32 index)
    {
        if (m_objects.remove(index) > 0)
            m_freed.insert(index);
    }

    // ---- DC state ----
    void save()
    {
        if (int(m_saved.size()) >= maxSavedStates) {
            ++m_unsavedDepth;
            return;
        }
        m_saved.push_back(m_state);
        m_painter.save();
    }
    // `which` negative: that many levels back; positive: the level itself.
    void restore(qint64 which)
    {
        qint64 levels = which < 0 ? -which : qint64(m_saved.size()) + m_unsavedDepth - which + 1;
        if (levels <= 0)
            return;
        const qint64 skipped = std::min<qint64>(levels, m_unsavedDepth);
        m_unsavedDepth -= int(skipped);
        levels = std::min<qint64>(levels - skipped, qint64(m_saved.size()));
        for (qint64 i = 0; i < levels; ++i) {
            m_state = m_saved.back();
            m_saved.pop_back();
            m_painter.restore();
        }
    }
    ~Player()
    {
        for (std::size_t i = 0; i < m_saved.size(); ++i)
            m_painter.restore();
    }

    // ---- Coordinates ----
    QTransform pageTransform() const
    {
        const State &s = m_state;
        QPointF scale(1, 1);
        QPointF windowOrg = s.windowOrg, viewportOrg = s.viewportOrg;
        if (!m_emf) {
            // A WMF's own window is drawn onto the frame, whatever mode it
            // names: the frame is the viewport unless the file sets one.
            const QSizeF windowExt = s.windowExtSet ? s.windowExt : m_frame.size();
            const QSizeF viewportExt = s.viewportExtSet ? s.viewportExt : m_frame.size();
            if (!s.windowOrgSet)
                windowOrg = m_frame.topLeft();
            if (!s.viewportOrgSet)
                viewportOrg = m_frame.topLeft();
            scale = extentScale(windowExt, viewportExt);
        } else {
            const double perMmX = m_pixelsPerMm.width(), perMmY = m_pixelsPerMm.height();
            switch (s.mapMode) {
            case MmLoMetric:
                scale = QPointF(perMmX / 10, -perMmY / 10);
                break;
            case MmHiMetric:
                scale = QPointF(perMmX / 100, -perMmY / 100);
                break;
            case MmLoEnglish:
                scale = QPointF(perMmX * 0.254, -perMmY * 0.254);
                break;
            case MmHiEnglish:
                scale = QPointF(perMmX * 0.0254, -perMmY * 0.0254);
                break;
            case MmTwips:
                scale = QPointF(perMmX * 25.4 / 1440, -perMmY * 25.4 / 1440);
                break;
            case MmIsotropic:
            case MmAnisotropic:
                scale = extentScale(s.windowExt, s.viewportExt);
                break;
            default:
                break;
            }
        }
        QTransform page = QTransform::fromTranslate(viewportOrg.x(), viewportOrg.y());
        page.scale(scale.x(), scale.y());
        page.translate(-windowOrg.x(), -windowOrg.y());
        return page;
    }
    QPointF extentScale(QSizeF window, QSizeF viewport) const
    {
        const double wx = window.width() != 0 ? window.width() : 1;
        const double wy = window.height() != 0 ? window.height() : 1;
        QPointF scale(viewport.width() / wx, viewport.height() / wy);
        if (m_state.mapMode == MmIsotropic) {
            const double both = std::min(std::abs(scale.x()), std::abs(scale.y()));
            scale = QPointF(std::copysign(both, scale.x()), std::copysign(both, scale.y()));
        }
        return scale;
    }
    QPointF windowOrigin() const
    {
        return m_emf || m_state.windowOrgSet ? m_state.windowOrg : m_frame.topLeft();
    }
    // Logical coordinates to the picture's pixels.
    QTransform toImage() const { return m_state.world * pageTransform() * m_toImage; }
    // Device (reference) coordinates to the picture's pixels.
    const QTransform &deviceToImage() const { return m_toImage; }

    // ---- Drawing ----
    bool inPath() const { return m_inPath; }
    void beginPath()
    {
        m_inPath = true;
        m_path = QPainterPath();
    }
    void endPath() { m_inPath = false; }
    void abortPath()
    {
        m_inPath = false;
        m_path = QPainterPath();
    }
    void closeFigure()
    {
        if (m_inPath)
            m_path.closeSubpath();
    }
    void drawStoredPath(bool fill, bool stroke)
    {
        m_inPath = false;
        QPainterPath path = m_path;
        m_path = QPainterPath();
        path.setFillRule(m_state.fillRule);
        paint(path, fill, stroke);
    }
    void clipToStoredPath(int mode)
    {
        m_inPath = false;
        QPainterPath path = m_path;
        m_path = QPainterPath();
        if (!prepare())
            return;
        m_painter.setClipPath(path, mode == 5 ? Qt::ReplaceClip : Qt::IntersectClip);
    }

    void moveTo(QPointF point)
    {
        m_state.position = point;
        if (m_inPath)
            m_path.moveTo(point);
    }
    void lineTo(QPointF point)
    {
        if (m_inPath) {
            if (m_path.elementCount() == 0)
                m_path.moveTo(m_state.position);
            m_path.lineTo(point);
        } else {
            QPainterPath path(m_state.position);
            path.lineTo(point);
            paint(path, false, true);
        }
        m_state.position = point;
    }
    // Polyline/polygon/bezier from points; `fromCurrent` continues at the
    // current position (the ...To records).
    void poly(const std::vector<QPointF> &points, bool closed, bool bezier, bool fromCurrent)
    {
        if (points.empty())
            return;
        QPainterPath path;
        std::size_t i = 0;
        if (fromCurrent) {
            path.moveTo(m_state.position);
        } else {
            path.moveTo(points[0]);
            i = 1;
        }
        if (bezier) {
            for (; i + 2 < points.size(); i += 3)
                path.cubicTo(points[i], points[i + 1], points[i + 2]);
        } else {
            for (; i < points.size(); ++i)
                path.lineTo(points[i]);
        }
        if (closed)
            path.closeSubpath();
        if (fromCurrent)
            m_state.position = path.currentPosition();
        if (m_inPath) {
            if (fromCurrent && m_path.elementCount() > 0)
                m_path.connectPath(path);
            else
                m_path.addPath(path);
            return;
        }
        path.setFillRule(m_state.fillRule);
        paint(path, closed, true);
    }
    void polyPoly(const std::vector<std::vector<QPointF>> &shapes, bool closed)
    {
        QPainterPath path;
        path.setFillRule(m_state.fillRule);
        for (const auto &points : shapes) {
            if (points.empty())
                continue;
            path.moveTo(points[0]);
            for (std::size_t i = 1; i < points.size(); ++i)
                path.lineTo(points[i]);
            if (closed)
                path.closeSubpath();
        }
        if (m_inPath) {
            m_path.addPath(path);
            return;
        }
        paint(path, closed, true);
    }
    void shape(const QPainterPath &path)
    {
        if (m_inPath) {
            m_path.addPath(path);
            return;
        }
        paint(path, true, true);
    }
    void rectangle(const QRectF &rect)
    {
        QPainterPath path;
        path.addRect(rect.normalized());
        shape(path);
    }
    void ellipse(const QRectF &rect)
    {
        QPainterPath path;
        path.addEllipse(rect.normalized());
        shape(path);
    }
    void roundRect(const QRectF &rect, QSizeF corner)
    {
        QPainterPath path;
        path.addRoundedRect(rect.normalized(), std::abs(corner.width()) / 2,
                            std::abs(corner.height()) / 2);
        shape(path);
    }
    // Arc (0), chord (1) or pie (2) of the ellipse in `box`, counter-clockwise
    // on the device from the ray through `start` to the ray through `end`.
    void arc(const QRectF &boxIn, QPointF start, QPointF end, int kind)
    {
        const QRectF box = boxIn.normalized();
        if (box.isEmpty())
            return;
        const QPointF c = box.center();
        auto angle = [&](QPointF p) {
            return std::atan2(-(p.y() - c.y()) / box.height(), (p.x() - c.x()) / box.width()) *
                   180 / M_PI;
        };
        const double a0 = angle(start);
        double sweep = angle(end) - a0;
        const bool flipped = toImage().determinant() < 0;
        if (!flipped) {
            while (sweep <= 0)
                sweep += 360;
        } else {
            while (sweep >= 0)
                sweep -= 360;
        }
        QPainterPath path;
        if (kind == 2)
            path.moveTo(c);
        else
            path.arcMoveTo(box, a0);
        path.arcTo(box, a0, sweep);
        if (kind != 0)
            path.closeSubpath();
        if (m_inPath) {
            m_path.addPath(path);
            return;
        }
        paint(path, kind != 0, true);
    }

    // Fills `rect` (logical) with a colour or the current brush, no outline.
    void fillRect(const QRectF &rect, const QBrush &brush)
    {
        if (!prepare())
            return;
        const QRectF shown = clampToImage(rect.normalized());
        if (shown.isEmpty() || !charge(shown))
            return;
        m_painter.fillRect(shown, brush);
        m_drew = true;
    }
    QBrush currentBrush() const { return m_state.brush.none ? QBrush() : m_state.brush.brush; }

    void clipRect(const QRectF &rect, bool exclude)
    {
        if (!prepare())
            return;
        if (!exclude) {
            m_painter.setClipRect(rect.normalized(), Qt::IntersectClip);
            return;
        }
        const QTransform t = toImage();
        QPainterPath keep;
        if (m_painter.hasClipping()) {
            m_painter.setTransform(QTransform());
            keep = m_painter.clipPath();
        } else {
            keep.addRect(QRectF(m_image.rect()));
        }
        QPainterPath cut;
        cut.addPolygon(t.map(QPolygonF(rect.normalized())));
        cut.closeSubpath();
        m_painter.setTransform(QTransform());
        m_painter.setClipPath(keep.subtracted(cut), Qt::ReplaceClip);
    }
    // Device-space rectangles (EMF regions): `mode` RGN_AND 1, RGN_COPY 5.
    void clipDeviceRects(const std::vector<QRectF> &rects, int mode)
    {
        m_painter.setTransform(m_toImage);
        if (rects.empty()) {
            if (mode == 5)
                m_painter.setClipping(false);
            return;
        }
        QPainterPath region;
        for (const QRectF &rect : rects)
            region.addRect(rect.normalized());
        if (!finite(m_toImage))
            return;
        if (mode == 5)
            m_painter.setClipPath(region, Qt::ReplaceClip);
        else if (mode == 1)
            m_painter.setClipPath(region, Qt::IntersectClip);
    }
    void resetClip() { m_painter.setClipping(false); }

    void drawImage(const QRectF &target, QImage image, QRectF source, quint32 rop,
                   double opacity = 1)
    {
        if (image.isNull() || target.width() == 0 || target.height() == 0 || !prepare())
            return;
        source = source.intersected(QRectF(image.rect()));
        if (source.isEmpty())
            return;
        // A negative extent mirrors the picture.
        const bool mirrorX = target.width() < 0, mirrorY = target.height() < 0;
        if (mirrorX || mirrorY) {
            image = image.copy(source.toAlignedRect()).mirrored(mirrorX, mirrorY);
            source = QRectF(image.rect());
        }
        const QRectF shown = toImage().mapRect(target.normalized());
        if (!withinReach(shown) || !charge(shown.intersected(QRectF(m_image.rect()))))
            return;
        QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
        switch (rop) {
        case 0x8800C6: // SRCAND
            mode = QPainter::RasterOp_SourceAndDestination;
            break;
        case 0xEE0086: // SRCPAINT
            mode = QPainter::RasterOp_SourceOrDestination;
            break;
        case 0x660046: // SRCINVERT
            mode = QPainter::RasterOp_SourceXorDestination;
            break;
        case 0x330008: // NOTSRCCOPY
            image.invertPixels();
            break;
        default:
            break;
        }
        m_painter.setCompositionMode(mode);
        m_painter.setOpacity(opacity);
        m_painter.drawImage(target.normalized(), image, source);
        m_painter.setOpacity(1);
        m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        m_drew = true;
    }
    // A blit without a source: PATCOPY fills with the brush, BLACKNESS and
    // WHITENESS with those colours; others leave the picture alone.
    void patternBlit(const QRectF &target, quint32 rop)
    {
        if (rop == 0xF00021)
            fillRect(target, currentBrush());
        else if (rop == 0x000042)
            fillRect(target, Qt::black);
        else if (rop == 0xFF0062)
            fillRect(target, Qt::white);
    }

    // Text at `reference` (logical) in the current font; `advances` (logical,
    // one per UTF-16 unit) place each character when the file gives them.
    void text(QPointF reference, const QString &text, const std::vector<double> &advances,
              int options, const QRectF &rect, bool hasRect)
    {
        if (!prepare())
            return;
        const QTransform t = toImage();
        if (hasRect && (options & etoOpaque))
            fillRect(rect, m_state.backColor);
        if (text.isEmpty() || !m_canDrawText)
            return;
        const Font &font = m_state.font;
        const bool updateCp = m_state.textAlign & taUpdateCp;
        if (updateCp)
            reference = m_state.position;
        const double scaleX = std::hypot(t.m11(), t.m12());
        const double scaleY = std::hypot(t.m21(), t.m22());
        // Positive heights are cell heights: the character is a little less.
        double em = font.height < 0 ? -font.height : font.height * 0.85;
        if (em == 0)
            em = 12 / std::max(scaleY, 1e-9);
        const double pixels = em * scaleY;
        if (!std::isfinite(pixels) || pixels < 0.5)
            return;
        if (pixels > 4.0 * std::max(m_image.width(), m_image.height()) + 64)
            return;
        QFont qfont;
        if (!font.face.isEmpty())
            qfont.setFamily(font.face);
        qfont.setPixelSize(std::max(1, int(std::lround(pixels))));
        qfont.setWeight(QFont::Weight(std::clamp(font.weight == 0 ? 400 : font.weight, 1, 1000)));
        qfont.setItalic(font.italic);
        qfont.setUnderline(font.underline);
        qfont.setStrikeOut(font.strikeOut);
        const QFontMetricsF metrics(qfont);

        // Positions along the baseline, in picture pixels.
        std::vector<double> offsets(std::size_t(text.size()) + 1, 0.0);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const double step = std::size_t(i) < advances.size()
                                    ? advances[std::size_t(i)] * scaleX
                                    : metrics.horizontalAdvance(text.at(i));
            offsets[std::size_t(i) + 1] = offsets[std::size_t(i)] + step;
        }
        const double width = advances.empty() ? metrics.horizontalAdvance(text) : offsets.back();
        double x = 0;
        const int horizontal = m_state.textAlign & taCenter;
        if (horizontal == taCenter)
            x = -width / 2;
        else if (horizontal == taRight)
            x = -width;
        double y = metrics.ascent();
        const int vertical = m_state.textAlign & taBaseline;
        if (vertical == taBaseline)
            y = 0;
        else if (vertical == taBottom)
            y = -metrics.descent();

        QTransform place = QTransform::fromTranslate(t.map(reference).x(), t.map(reference).y());
        place.rotate(-double(font.escapement) / 10.0);
        const QRectF box(x, y - metrics.ascent(), width, metrics.height());
        const QRectF shown = place.mapRect(box);
        if (!withinReach(shown) || !charge(shown.intersected(QRectF(m_image.rect()))))
            return;

        m_painter.save();
        if (hasRect && (options & etoClipped))
            m_painter.setClipRect(rect.normalized(), Qt::IntersectClip);
        m_painter.setTransform(place);
        if (m_state.opaque && !(hasRect && (options & etoOpaque)))
            m_painter.fillRect(box, m_state.backColor);
        m_painter.setFont(qfont);
        m_painter.setPen(m_state.textColor);
        if (advances.empty()) {
            m_painter.drawText(QPointF(x, y), text);
        } else {
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text.at(i).isLowSurrogate())
                    continue;
                const qsizetype length =
                    text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
                m_painter.drawText(QPointF(x + offsets[std::size_t(i)], y), text.mid(i, length));
            }
        }
        m_painter.restore();
        m_drew = true;
        if (updateCp) {
            const double logicalWidth = scaleX > 0 ? width / scaleX : 0;
            m_state.position = reference + QPointF(logicalWidth, 0);
        }
    }

    QColor penColor() const { return m_state.pen.color; }

private:
    // Sets the painter's transform; false when the mapping is degenerate.
    bool prepare()
    {
        if (m_stopped)
            return false;
        const QTransform t = toImage();
        if (!finite(t) || !t.isInvertible())
            return false;
        m_painter.setTransform(t);
        return true;
    }
    // Whether painted bounds stay in the range the rasteriser handles well.
    static bool withinReach(const QRectF &r)
    {
        constexpr double reach = 1 << 24;
        return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) &&
               std::isfinite(r.bottom()) && r.left() > -reach && r.top() > -reach &&
               r.right() < reach && r.bottom() < reach;
    }
    QRectF clampToImage(const QRectF &logical) const
    {
        // Only what lands on the picture (plus a margin) is filled.
        const QTransform t = toImage();
        const QRectF margin = QRectF(m_image.rect()).adjusted(-2, -2, 2, 2);
        const QRectF onImage = t.mapRect(logical).intersected(margin);
        if (onImage.isEmpty())
            return {};
        bool invertible = false;
        const QTransform back = t.inverted(&invertible);
        return invertible ? back.mapRect(onImage).intersected(logical) : QRectF();
    }
    // Charges the pixel area a drawing may touch against the budget.
    bool charge(const QRectF &area)
    {
        const double cost = std::max(0.0, area.width()) * std::max(0.0, area.height()) + 64;
        m_painted += qint64(std::min(cost, 1e15));
        if (m_painted > m_areaBudget)
            m_stopped = true;
        return !m_stopped;
    }

    void paint(const QPainterPath &pathIn, bool fill, bool stroke)
    {
        const bool penShown = stroke && !m_state.pen.none && m_state.pen.style != 5;
        const bool brushShown = fill && !m_state.brush.none;
        if ((!penShown && !brushShown) || pathIn.isEmpty() || !prepare())
            return;
        const QTransform t = toImage();
        QRectF shown = t.mapRect(pathIn.controlPointRect());
        if (!withinReach(shown)) {
            // A rectangle reaching far past the picture (a background, say)
            // is cut to what shows; other shapes that far are not drawn.
            if (pathIn.elementCount() != 5 || pathIn.controlPointRect().isEmpty())
                return;
            const QRectF cut = clampToImage(pathIn.controlPointRect());
            if (cut.isEmpty())
                return;
            QPainterPath rect;
            rect.addRect(cut);
            paintPrepared(rect, penShown, brushShown, t, t.mapRect(cut));
            return;
        }
        paintPrepared(pathIn, penShown, brushShown, t, shown);
    }
    void paintPrepared(const QPainterPath &path, bool penShown, bool brushShown,
                       const QTransform &t, const QRectF &shown)
    {
        if (!charge(shown.adjusted(-1, -1, 1, 1).intersected(QRectF(m_image.rect()))))
            return;
        QPen pen(Qt::NoPen);
        if (penShown) {
            const double scale = std::sqrt(std::abs(t.determinant()));
            const double width = std::clamp(m_state.pen.width * scale, 1.0, 4096.0);
            pen = QPen(m_state.pen.color, width);
            pen.setCosmetic(true);
            switch (m_state.pen.style & 0xf) {
            case 1:
                pen.setStyle(Qt::DashLine);
                break;
            case 2:
                pen.setStyle(Qt::DotLine);
                break;
            case 3:
                pen.setStyle(Qt::DashDotLine);
                break;
            case 4:
                pen.setStyle(Qt::DashDotDotLine);
                break;
            default:
                break;
            }
            if (m_state.pen.width * scale <= 1.5)
                pen.setCapStyle(Qt::FlatCap);
        }
        m_painter.setPen(pen);
        m_painter.setBrush(brushShown ? m_state.brush.brush : QBrush());
        m_painter.setBackgroundMode(m_state.opaque ? Qt::OpaqueMode : Qt::TransparentMode);
        m_painter.setBackground(m_state.backColor);
        m_painter.drawPath(path);
        m_drew = true;
    }

    QImage &m_image;
    bool m_emf;
    QPainter m_painter;
    bool m_canDrawText = false;
    State m_state;
    std::vector<State> m_saved;
    int m_unsavedDepth = 0;
    QHash<quint32, Object> m_objects;
    std::set<quint32> m_freed;
    quint32 m_nextSlot = 0;
    QRectF m_frame;
    QSizeF m_pixelsPerMm;
    QTransform m_toImage;
    bool m_inPath = false;
    QPainterPath m_path;
    int m_records = 0;
    qint64 m_painted = 0;
    qint64 m_areaBudget = 0;
    bool m_drew = false;
    bool m_stopped = false;

public:
    void setAreaBudget(qint64 budget) { m_areaBudget = budget; }
    qint64 pixelBudget = DocumentImages::maxPixels;
};

// The code page of a font's character set, for 8-bit text in a WMF.
int codePageOf(int charset)
{
    if (charset == 2)
        return 1252; // symbol fonts: the bytes are the glyphs
    const int codePage = CodePage::fromCharset(charset);
    if (codePage != 0 && CodePage::isSupported(codePage))
        return codePage;
    return CodePage::isSupported(CodePage::systemAnsi()) ? CodePage::systemAnsi() : 1252;
}

QString decodeName(QByteArrayView bytes, int charset)
{
    const qsizetype end = bytes.indexOf('\0');
    const QByteArrayView name = end >= 0 ? bytes.first(end) : bytes;
    const auto decoded = CodePage::decode(std::string_view(name.data(), std::size_t(name.size())),
                                          codePageOf(charset));
    return QString::fromStdU16String(decoded.text);
}

// 8-bit text in `codePage`, with one advance per byte (`dx`, may be empty):
// the text and one advance per UTF-16 unit.
void decodeText(QByteArrayView bytes, int codePage, const std::vector<double> &dx, QString &text,
                std::vector<double> &advances)
{
    const bool doubleByte = CodePage::isDoubleByte(codePage);
    text.clear();
    advances.clear();
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype length = 1;
        if (doubleByte && quint8(bytes[i]) >= 0x81 && quint8(bytes[i]) <= 0xfe &&
            i + 1 < bytes.size())
            length = 2;
        auto decoded =
            CodePage::decode(std::string_view(bytes.data() + i, std::size_t(length)), codePage);
        if (length == 2 && !decoded.clean) {
            length = 1;
            decoded = CodePage::decode(std::string_view(bytes.data() + i, 1), codePage);
        }
        const QString part = QString::fromStdU16String(decoded.text);
        double advance = 0;
        for (qsizetype k = 0; k < length; ++k)
            if (std::size_t(i + k) < dx.size())
                advance += dx[std::size_t(i + k)];
        text += part;
        if (!dx.empty()) {
            for (qsizetype k = 0; k < part.size(); ++k)
                advances.push_back(k == 0 ? advance : 0.0);
        }
        i += length;
    }
}

// ---- WMF -------------------------------------------------------------------

constexpr quint32 placeableKey = 0x9AC6CDD7;

// Where the records start, and the frame from the placeable header; false
// when the bytes are not a WMF.
bool wmfHeader(const Bytes &data, qint64 &recordsAt, QRectF &frame)
{
    qint64 at = 0;
    frame = QRectF();
    if (data.u32(0) == placeableKey) {
        if (!data.has(0, 22))
            return false;
        const double left = data.i16(6), top = data.i16(8), right = data.i16(10),
                     bottom = data.i16(12);
        frame = QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
        at = 22;
    }
    if (!data.has(at, 18))
        return false;
    const quint16 type = data.u16(at), headerWords = data.u16(at + 2);
    if ((type != 1 && type != 2) || headerWords != 9)
        return false;
    recordsAt = at + 18;
    return true;
}

bool isWmfDrawing(quint16 function)
{
    switch (function) {
    case 0x0213:
    case 0x041B:
    case 0x0418:
    case 0x061C:
    case 0x0817:
    case 0x081A:
    case 0x0830:
    case 0x0324:
    case 0x0325:
    case 0x0538:
    case 0x0521:
    case 0x0A32:
    case 0x0B41:
    case 0x0940:
    case 0x0F43:
    case 0x061D:
        return true;
    default:
        return false;
    }
}

// Without a placeable header, the frame is the window the file sets
// before it draws (or the viewport, when it sets one); failing both, what
// its shapes cover.
QRectF wmfWindowFrame(const Bytes &data, qint64 at)
{
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt(0, 0), viewportExt(0, 0);
    QRectF covered;
    auto cover = [&covered](QPointF a, QPointF b) {
        covered = covered.united(QRectF(a, b).normalized());
    };
    int records = 0;
    while (data.has(at, 6) && ++records <= maxRecords) {
        const quint32 words = data.u32(at);
        const quint16 function = data.u16(at + 4);
        if (words < 3 || !data.has(at, qint64(words) * 2) || function == 0)
            break;
        const Bytes p = data.mid(at + 6, qint64(words) * 2 - 6);
        at += qint64(words) * 2;
        if (isWmfDrawing(function) && windowExt.width() != 0 && windowExt.height() != 0)
            break;
        const QPointF point(p.i16(2), p.i16(0));
        switch (function) {
        case 0x020B:
            windowOrg = point;
            break;
        case 0x020C:
            windowExt = QSizeF(point.x(), point.y());
            break;
        case 0x020D:
            viewportOrg = point;
            break;
        case 0x020E:
            viewportExt = QSizeF(point.x(), point.y());
            break;
        case 0x041B: // Rectangle, Ellipse
        case 0x0418:
            cover(QPointF(p.i16(6), p.i16(4)), QPointF(p.i16(2), p.i16(0)));
            break;
        case 0x0324: // Polygon, Polyline
        case 0x0325: {
            const qint64 count =
                std::min<qint64>(std::max<qint64>(0, p.i16(0)), (p.size() - 2) / 4);
            for (qint64 i = 0; i < count; ++i)
                cover(QPointF(p.i16(2 + 4 * i), p.i16(4 + 4 * i)),
                      QPointF(p.i16(2 + 4 * i), p.i16(4 + 4 * i)));
            break;
        }
        case 0x0F43: // StretchDIB
            cover(QPointF(p.i16(20), p.i16(18)),
                  QPointF(p.i16(20) + p.i16(16), p.i16(18) + p.i16(14)));
            break;
        default:
            break;
        }
    }
    if (viewportExt.width() != 0 && viewportExt.height() != 0)
        return QRectF(viewportOrg, viewportExt).normalized();
    if (windowExt.width() != 0 && windowExt.height() != 0)
        return QRectF(windowOrg, windowExt).normalized();
    return covered;
}

// Word writes the EMF a WMF was made from into the WMF's comments
// (META_ESCAPE_ENHANCED_METAFILE, "WMFC"), in pieces: the whole EMF when
// every piece is there, else nothing.
QByteArray embeddedEmf(const Bytes &data, qint64 at)
{
    QByteArray emf;
    qint64 total = -1;
    int records = 0;
    while (data.has(at, 6) && ++records <= maxRecords) {
        const quint32 words = data.u32(at);
        const quint16 function = data.u16(at + 4);
        if (words < 3 || !data.has(at, qint64(words) * 2) || function == 0)
            break;
        const Bytes p = data.mid(at + 6, qint64(words) * 2 - 6);
        at += qint64(words) * 2;
        if (function != 0x0626 || p.u16(0) != 0x000F || p.u32(4) != 0x43464D57 || p.u32(8) != 1)
            continue;
        const qint64 piece = p.u32(26), size = p.u32(34);
        if (total < 0)
            total = size;
        if (size != total || total > data.size() || !p.has(38, piece) || emf.size() + piece > total)
            return {};
        emf.append(p.view().sliced(38, piece));
    }
    return total > 0 && emf.size() == total ? emf : QByteArray();
}

std::vector<QPointF> wmfPoints(const Bytes &p, qint64 at, qint64 count)
{
    std::vector<QPointF> points;
    count = std::clamp<qint64>(count, 0, (p.size() - at) / 4);
    count = std::min<qint64>(count, maxPointsPerShape);
    if (count <= 0)
        return points;
    points.reserve(std::size_t(count));
    for (qint64 i = 0; i < count; ++i)
        points.emplace_back(p.i16(at + 4 * i), p.i16(at + 4 * i + 2));
    return points;
}

QRectF wmfRect(const Bytes &p, qint64 at)
{
    // bottom, right, top, left
    return QRectF(QPointF(p.i16(at + 6), p.i16(at + 4)), QPointF(p.i16(at + 2), p.i16(at)));
}

Brush logBrush(quint32 style, QColor color, quint32 hatch)
{
    Brush brush;
    if (style == 1) {
        brush.none = true;
    } else if (style == 2) {
        static constexpr Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                     Qt::FDiagPattern, Qt::BDiagPattern,
                                                     Qt::CrossPattern, Qt::DiagCrossPattern};
        brush.brush = QBrush(color, hatch < 6 ? hatches[hatch] : Qt::SolidPattern);
    } else {
        brush.brush = QBrush(color);
    }
    return brush;
}

Brush patternBrush(const QImage &image)
{
    Brush brush;
    if (image.isNull())
        brush.brush = QBrush(Qt::gray);
    else
        brush.brush = QBrush(image);
    return brush;
}

void playWmf(Player &player, const Bytes &data, qint64 at)
{
    while (data.has(at, 6) && player.nextRecord()) {
        const quint32 words = data.u32(at);
        const quint16 function = data.u16(at + 4);
        // A record must advance and fit: else the file ends here.
        if (words < 3 || !data.has(at, qint64(words) * 2) || function == 0)
            break;
        const Bytes p = data.mid(at + 6, qint64(words) * 2 - 6);
        at += qint64(words) * 2;
        State &st = player.state();
        auto xy = [&](qint64 off) { return QPointF(p.i16(off + 2), p.i16(off)); };
        switch (function) {
        case 0x020B: // SetWindowOrg
            st.windowOrg = xy(0);
            st.windowOrgSet = true;
            break;
        case 0x020C: // SetWindowExt
            st.windowExt = QSizeF(p.i16(2), p.i16(0));
            st.windowExtSet = true;
            break;
        case 0x020D: // SetViewportOrg
            st.viewportOrg = xy(0);
            st.viewportOrgSet = true;
            break;
        case 0x020E: // SetViewportExt
            st.viewportExt = QSizeF(p.i16(2), p.i16(0));
            st.viewportExtSet = true;
            break;
        case 0x020F: // OffsetWindowOrg
            st.windowOrg = player.windowOrigin() + xy(0);
            st.windowOrgSet = true;
            break;
        case 0x0103: // SetMapMode
            st.mapMode = p.u16(0);
            break;
        case 0x0201: // SetBkColor
            st.backColor = colorRef(p.u32(0));
            break;
        case 0x0102: // SetBkMode
            st.opaque = p.u16(0) == 2;
            break;
        case 0x0106: // SetPolyFillMode
            st.fillRule = p.u16(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
            break;
        case 0x0209: // SetTextColor
            st.textColor = colorRef(p.u32(0));
            break;
        case 0x012E: // SetTextAlign
            st.textAlign = p.u16(0);
            break;
        case 0x001E: // SaveDC
            player.save();
            break;
        case 0x0127: // RestoreDC
            player.restore(p.i16(0));
            break;
        case 0x0416: // IntersectClipRect
            player.clipRect(wmfRect(p, 0), false);
            break;
        case 0x0415: // ExcludeClipRect
            player.clipRect(wmfRect(p, 0), true);
            break;
        case 0x012C: // SelectClipRegion: only "no region" is understood
            if (p.u16(0) == 0)
                player.resetClip();
            break;
        case 0x02FA: { // CreatePenIndirect
            Object object;
            object.kind = Object::PenKind;
            object.pen.style = p.u16(0);
            object.pen.none = (object.pen.style & 0xf) == 5;
            object.pen.width = std::abs(p.i16(2));
            object.pen.color = colorRef(p.u32(6));
            player.store(player.freeSlot(), object);
            break;
        }
        case 0x02FC: { // CreateBrushIndirect
            Object object;
            object.kind = Object::BrushKind;
            object.brush = logBrush(p.u16(0), colorRef(p.u32(2)), p.u16(6));
            player.store(player.freeSlot(), object);
            break;
        }
        case 0x0142: { // DIBCreatePatternBrush
            Object object;
            object.kind = Object::BrushKind;
            object.brush = patternBrush(decodeDib(p.mid(4, p.size() - 4), {}, player.pixelBudget));
            player.store(player.freeSlot(), object);
            break;
        }
        case 0x02FB: { // CreateFontIndirect
            Object object;
            object.kind = Object::FontKind;
            Font &font = object.font;
            font.height = p.i16(0);
            font.escapement = p.i16(4);
            font.weight = p.i16(8);
            font.italic = p.u8(10);
            font.underline = p.u8(11);
            font.strikeOut = p.u8(12);
            font.charset = p.u8(13);
            if (p.size() > 18)
                font.face = decodeName(p.view().sliced(18, std::min<qsizetype>(32, p.size() - 18)),
                                       font.charset);
            player.store(player.freeSlot(), object);
            break;
        }
        case 0x00F7: // CreatePalette
        case 0x01F9: // CreatePatternBrush
        case 0x06FF: // CreateRegion
            player.store(player.freeSlot(), Object());
            break;
        case 0x012D: // SelectObject
            player.select(p.u16(0));
            break;
        case 0x01F0: // DeleteObject
            player.freeSlotOf(p.u16(0));
            break;
        case 0x0214: // MoveTo
            player.moveTo(xy(0));
            break;
        case 0x0213: // LineTo
            player.lineTo(xy(0));
            break;
        case 0x041B: // Rectangle
            player.rectangle(wmfRect(p, 0));
            break;
        case 0x0418: // Ellipse
            player.ellipse(wmfRect(p, 0));
            break;
        case 0x061C: // RoundRect
            player.roundRect(wmfRect(p, 4), QSizeF(p.i16(2), p.i16(0)));
            break;
        case 0x0817: // Arc
        case 0x0830: // Chord
        case 0x081A: // Pie
            player.arc(wmfRect(p, 8), xy(4), xy(0),
                       function == 0x0817   ? 0
                       : function == 0x0830 ? 1
                                            : 2);
            break;
        case 0x0324: // Polygon
        case 0x0325: // Polyline
            player.poly(wmfPoints(p, 2, p.i16(0)), function == 0x0324, false, false);
            break;
        case 0x0538: { // PolyPolygon
            const qint64 count = p.u16(0);
            if (!p.has(2, count * 2))
                break;
            std::vector<std::vector<QPointF>> shapes;
            qint64 pointsAt = 2 + count * 2, total = 0;
            for (qint64 i = 0; i < count; ++i) {
                const qint64 n = p.u16(2 + 2 * i);
                total += n;
                if (!p.has(pointsAt, n * 4) || total > maxPointsPerShape)
                    break;
                shapes.push_back(wmfPoints(p, pointsAt, n));
                pointsAt += n * 4;
            }
            player.polyPoly(shapes, true);
            break;
        }
        case 0x0521: { // TextOut
            const qint64 count = std::max<qint64>(0, p.i16(0));
            if (!p.has(2, count))
                break;
            const qint64 after = 2 + (count + 1) / 2 * 2;
            QString text;
            std::vector<double> advances;
            decodeText(p.view().sliced(2, count), codePageOf(st.font.charset), {}, text, advances);
            player.text(QPointF(p.i16(after + 2), p.i16(after)), text, advances, 0, {}, false);
            break;
        }
        case 0x0A32: { // ExtTextOut
            const QPointF reference = xy(0);
            const qint64 count = std::max<qint64>(0, p.i16(4));
            const int options = p.u16(6);
            qint64 stringAt = 8;
            QRectF rect;
            const bool hasRect = options & (etoOpaque | etoClipped);
            if (hasRect) {
                rect = QRectF(QPointF(p.i16(8), p.i16(10)), QPointF(p.i16(12), p.i16(14)));
                stringAt = 16;
            }
            if (!p.has(stringAt, count))
                break;
            const qint64 dxAt = stringAt + (count + 1) / 2 * 2;
            std::vector<double> dx;
            if (p.has(dxAt, count * 2)) {
                dx.reserve(std::size_t(count));
                for (qint64 i = 0; i < count; ++i)
                    dx.push_back(p.i16(dxAt + 2 * i));
            }
            QString text;
            std::vector<double> advances;
            decodeText(p.view().sliced(stringAt, count), codePageOf(st.font.charset), dx, text,
                       advances);
            player.text(reference, text, advances, options, rect, hasRect);
            break;
        }
        case 0x061D: { // PatBlt
            const QRectF target(QPointF(p.i16(10), p.i16(8)), QSizeF(p.i16(6), p.i16(4)));
            player.patternBlit(target, p.u32(0));
            break;
        }
        case 0x0940: { // DIBBitBlt
            const quint32 rop = p.u32(0);
            if (qint64(words) == (function >> 8) + 3) { // no bitmap
                player.patternBlit(
                    QRectF(QPointF(p.i16(16), p.i16(14)), QSizeF(p.i16(12), p.i16(10))), rop);
                break;
            }
            const QImage image = decodeDib(p.mid(16, p.size() - 16), {}, player.pixelBudget);
            const QRectF target(QPointF(p.i16(14), p.i16(12)), QSizeF(p.i16(10), p.i16(8)));
            const QRectF source(QPointF(p.i16(6), p.i16(4)), QSizeF(p.i16(10), p.i16(8)));
            player.drawImage(target, image, source, rop);
            break;
        }
        case 0x0B41: { // DIBStretchBlt
            const quint32 rop = p.u32(0);
            if (qint64(words) == (function >> 8) + 3) {
                player.patternBlit(
                    QRectF(QPointF(p.i16(20), p.i16(18)), QSizeF(p.i16(16), p.i16(14))), rop);
                break;
            }
            const QImage image = decodeDib(p.mid(20, p.size() - 20), {}, player.pixelBudget);
            const QRectF target(QPointF(p.i16(18), p.i16(16)), QSizeF(p.i16(14), p.i16(12)));
            const QRectF source(QPointF(p.i16(10), p.i16(8)), QSizeF(p.i16(6), p.i16(4)));
            player.drawImage(target, image, source, rop);
            break;
        }
        case 0x0F43: { // StretchDIB
            const quint32 rop = p.u32(0);
            const QImage image = decodeDib(p.mid(22, p.size() - 22), {}, player.pixelBudget);
            const QRectF target(QPointF(p.i16(20), p.i16(18)), QSizeF(p.i16(16), p.i16(14)));
            // The source is given from the bottom row of the bitmap.
            const double sourceHeight = p.i16(6);
            const double sourceY = image.height() - p.i16(10) - sourceHeight;
            const QRectF source(QPointF(p.i16(12), sourceY), QSizeF(p.i16(8), sourceHeight));
            player.drawImage(target, image, source, rop);
            break;
        }
        default: // SetStretchBltMode, SetROP2, Escape, palettes...: nothing to draw
            break;
        }
    }
}

// ---- EMF -------------------------------------------------------------------

constexpr quint32 emfSignature = 0x464D4520;

std::vector<QPointF> emfPoints(const Bytes &r, qint64 at, qint64 count, bool shortPoints)
{
    std::vector<QPointF> points;
    const qint64 stride = shortPoints ? 4 : 8;
    count = std::clamp<qint64>(count, 0, std::max<qint64>(0, (r.size() - at) / stride));
    count = std::min<qint64>(count, maxPointsPerShape);
    if (count <= 0)
        return points;
    points.reserve(std::size_t(count));
    for (qint64 i = 0; i < count; ++i) {
        const qint64 p = at + stride * i;
        if (shortPoints)
            points.emplace_back(r.i16(p), r.i16(p + 2));
        else
            points.emplace_back(r.i32(p), r.i32(p + 4));
    }
    return points;
}

QRectF emfRect(const Bytes &r, qint64 at)
{
    return QRectF(QPointF(r.i32(at), r.i32(at + 4)), QPointF(r.i32(at + 8), r.i32(at + 12)));
}

QTransform emfXform(const Bytes &r, qint64 at)
{
    return QTransform(r.f32(at), r.f32(at + 4), r.f32(at + 8), r.f32(at + 12), r.f32(at + 16),
                      r.f32(at + 20));
}

// Stock objects (index 0x80000000 | n).
void selectStock(State &st, quint32 n)
{
    switch (n) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4: {
        static constexpr int grey[] = {255, 192, 128, 64, 0};
        st.brush = Brush{false, QBrush(QColor(grey[n], grey[n], grey[n]))};
        break;
    }
    case 5:
        st.brush = Brush{true, QBrush()};
        break;
    case 6:
        st.pen = Pen{false, 0, 0, Qt::white};
        break;
    case 7:
        st.pen = Pen{false, 0, 0, Qt::black};
        break;
    case 8:
        st.pen = Pen{true, 5, 0, Qt::black};
        break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 16:
    case 17:
        st.font = Font();
        break;
    default:
        break;
    }
}

QImage emfBitmap(const Bytes &r, qint64 infoAt, qint64 infoSize, qint64 bitsAt, qint64 bitsSize,
                 qint64 &budget, bool alpha = false)
{
    if (infoSize <= 0 || !r.has(infoAt, infoSize) || !r.has(bitsAt, bitsSize))
        return {};
    return decodeDib(r.mid(infoAt, infoSize), r.mid(bitsAt, bitsSize), budget, alpha);
}

void playEmf(Player &player, const Bytes &data)
{
    qint64 at = 0;
    while (data.has(at, 8) && player.nextRecord()) {
        const quint32 type = data.u32(at), size = data.u32(at + 4);
        if (size < 8 || !data.has(at, size))
            break;
        const Bytes r = data.mid(at, size);
        at += size;
        State &st = player.state();
        auto point = [&](qint64 off) { return QPointF(r.i32(off), r.i32(off + 4)); };
        auto sizeAt = [&](qint64 off) { return QSizeF(r.i32(off), r.i32(off + 4)); };
        switch (type) {
        case 14: // EOF
            return;
        case 9: // SetWindowExtEx
            st.windowExt = sizeAt(8);
            break;
        case 10: // SetWindowOrgEx
            st.windowOrg = point(8);
            break;
        case 11: // SetViewportExtEx
            st.viewportExt = sizeAt(8);
            break;
        case 12: // SetViewportOrgEx
            st.viewportOrg = point(8);
            break;
        case 17: // SetMapMode
            st.mapMode = int(r.u32(8));
            break;
        case 18: // SetBkMode
            st.opaque = r.u32(8) == 2;
            break;
        case 19: // SetPolyFillMode
            st.fillRule = r.u32(8) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
            break;
        case 22: // SetTextAlign
            st.textAlign = int(r.u32(8));
            break;
        case 24: // SetTextColor
            st.textColor = colorRef(r.u32(8));
            break;
        case 25: // SetBkColor
            st.backColor = colorRef(r.u32(8));
            break;
        case 27: // MoveToEx
            player.moveTo(point(8));
            break;
        case 54: // LineTo
            player.lineTo(point(8));
            break;
        case 29: // ExcludeClipRect
        case 30: // IntersectClipRect
            player.clipRect(emfRect(r, 8), type == 29);
            break;
        case 33: // SaveDC
            player.save();
            break;
        case 34: // RestoreDC
            player.restore(r.i32(8));
            break;
        case 35: { // SetWorldTransform
            const QTransform world = emfXform(r, 8);
            if (finite(world) && world.isInvertible())
                st.world = world;
            break;
        }
        case 36: { // ModifyWorldTransform
            const QTransform xform = emfXform(r, 8);
            QTransform world = st.world;
            switch (r.u32(32)) {
            case 1:
                world = QTransform();
                break;
            case 2:
                world = xform * world;
                break;
            case 3:
                world = world * xform;
                break;
            case 4:
                world = xform;
                break;
            default:
                break;
            }
            if (finite(world) && world.isInvertible())
                st.world = world;
            break;
        }
        case 37: { // SelectObject
            const quint32 index = r.u32(8);
            if (index & 0x80000000u)
                selectStock(st, index & 0x7fffffffu);
            else
                player.select(index);
            break;
        }
        case 40: // DeleteObject
            player.remove(r.u32(8));
            break;
        case 38: { // CreatePen
            Object object;
            object.kind = Object::PenKind;
            object.pen.style = int(r.u32(12));
            object.pen.none = (object.pen.style & 0xf) == 5;
            object.pen.width = std::abs(double(r.i32(16)));
            object.pen.color = colorRef(r.u32(24));
            player.store(r.u32(8), object);
            break;
        }
        case 95: { // ExtCreatePen
            Object object;
            object.kind = Object::PenKind;
            object.pen.style = int(r.u32(28));
            object.pen.width = r.u32(32);
            object.pen.none = (object.pen.style & 0xf) == 5 || r.u32(36) == 1;
            object.pen.color = colorRef(r.u32(40));
            if ((object.pen.style & 0xf0000) == 0) // cosmetic
                object.pen.width = 0;
            player.store(r.u32(8), object);
            break;
        }
        case 39: { // CreateBrushIndirect
            Object object;
            object.kind = Object::BrushKind;
            object.brush = logBrush(r.u32(12), colorRef(r.u32(16)), r.u32(20));
            player.store(r.u32(8), object);
            break;
        }
        case 93:   // CreateMonoBrush
        case 94: { // CreateDIBPatternBrushPt
            Object object;
            object.kind = Object::BrushKind;
            object.brush = patternBrush(
                emfBitmap(r, r.u32(16), r.u32(20), r.u32(24), r.u32(28), player.pixelBudget));
            player.store(r.u32(8), object);
            break;
        }
        case 82: { // ExtCreateFontIndirectW
            Object object;
            object.kind = Object::FontKind;
            Font &font = object.font;
            font.height = r.i32(12);
            font.escapement = r.i32(20);
            font.weight = r.i32(28);
            font.italic = r.u8(32);
            font.underline = r.u8(33);
            font.strikeOut = r.u8(34);
            font.charset = r.u8(35);
            for (qint64 i = 0; i < 32 && r.has(40 + 2 * i, 2); ++i) {
                const char16_t unit = r.u16(40 + 2 * i);
                if (unit == 0)
                    break;
                font.face += QChar(unit);
            }
            player.store(r.u32(8), object);
            break;
        }
        case 48:
        case 49:
        case 75:
        case 98: // palettes, colour spaces: nothing to keep
            if (type == 49)
                player.store(r.u32(8), Object());
            if (type == 75) { // ExtSelectClipRgn
                const qint64 count = r.u32(8) >= 32 ? r.u32(24) : 0;
                std::vector<QRectF> rects;
                const qint64 shown = std::min<qint64>(count, (r.size() - 48) / 16);
                for (qint64 i = 0; i < shown && i < 4096; ++i)
                    rects.push_back(emfRect(r, 48 + 16 * i));
                player.clipDeviceRects(rects, int(r.u32(12)));
            }
            break;
        case 42: // Ellipse
            player.ellipse(emfRect(r, 8));
            break;
        case 43: // Rectangle
            player.rectangle(emfRect(r, 8));
            break;
        case 44: // RoundRect
            player.roundRect(emfRect(r, 8), sizeAt(24));
            break;
        case 45: // Arc
        case 46: // Chord
        case 47: // Pie
            player.arc(emfRect(r, 8), point(24), point(32), type == 45 ? 0 : type == 46 ? 1 : 2);
            break;
        case 2:
        case 3:
        case 4:
        case 5:
        case 6: // PolyBezier, Polygon, Polyline, ...To
        case 85:
        case 86:
        case 87:
        case 88:
        case 89: { // the same with 16-bit points
            const bool shortPoints = type >= 85;
            const int kind = shortPoints ? int(type) - 83 : int(type);
            const auto points = emfPoints(r, 28, r.u32(24), shortPoints);
            const bool bezier = kind == 2 || kind == 5;
            const bool fromCurrent = kind == 5 || kind == 6;
            player.poly(points, kind == 3, bezier, fromCurrent);
            break;
        }
        case 7:
        case 8:
        case 90:
        case 91: { // PolyPolyline, PolyPolygon (and 16-bit)
            const bool shortPoints = type >= 90;
            const qint64 count = r.u32(24);
            if (!r.has(32, count * 4))
                break;
            qint64 pointsAt = 32 + count * 4, total = 0;
            const qint64 stride = shortPoints ? 4 : 8;
            std::vector<std::vector<QPointF>> shapes;
            for (qint64 i = 0; i < count; ++i) {
                const qint64 n = r.u32(32 + 4 * i);
                total += n;
                if (!r.has(pointsAt, n * stride) || total > maxPointsPerShape)
                    break;
                shapes.push_back(emfPoints(r, pointsAt, n, shortPoints));
                pointsAt += n * stride;
            }
            player.polyPoly(shapes, type == 8 || type == 91);
            break;
        }
        case 59: // BeginPath
            player.beginPath();
            break;
        case 60: // EndPath
            player.endPath();
            break;
        case 61: // CloseFigure
            player.closeFigure();
            break;
        case 62: // FillPath
            player.drawStoredPath(true, false);
            break;
        case 63: // StrokeAndFillPath
            player.drawStoredPath(true, true);
            break;
        case 64: // StrokePath
            player.drawStoredPath(false, true);
            break;
        case 67: // SelectClipPath
            player.clipToStoredPath(int(r.u32(8)));
            break;
        case 68: // AbortPath
            player.abortPath();
            break;
        case 83:   // ExtTextOutA
        case 84: { // ExtTextOutW
            const bool wide = type == 84;
            const QPointF reference = point(36);
            const qint64 count = r.u32(44);
            const qint64 stringAt = r.u32(48);
            const int options = int(r.u32(52));
            const bool hasRect = !(options & 0x100); // ETO_NO_RECT
            const QRectF rect = hasRect ? emfRect(r, 56) : QRectF();
            const qint64 dxAt = r.u32(hasRect ? 72 : 56);
            if (!r.has(stringAt, count * (wide ? 2 : 1)))
                break;
            std::vector<double> dx;
            const qint64 step = (options & 0x2000) ? 8 : 4; // ETO_PDY: dx, dy pairs
            if (dxAt > 0 && r.has(dxAt, count * step)) {
                dx.reserve(std::size_t(count));
                for (qint64 i = 0; i < count; ++i)
                    dx.push_back(r.i32(dxAt + step * i));
            }
            QString text;
            std::vector<double> advances;
            if (wide) {
                text.reserve(qsizetype(count));
                for (qint64 i = 0; i < count; ++i)
                    text += QChar(char16_t(r.u16(stringAt + 2 * i)));
                advances = std::move(dx);
            } else {
                decodeText(r.view().sliced(stringAt, count), codePageOf(st.font.charset), dx, text,
                           advances);
            }
            player.text(reference, text, advances, options & (etoOpaque | etoClipped), rect,
                        hasRect);
            break;
        }
        case 76:   // BitBlt
        case 77: { // StretchBlt
            const QRectF target(point(24), sizeAt(32));
            const quint32 rop = r.u32(40);
            const qint64 infoSize = r.u32(88);
            if (infoSize == 0) {
                player.patternBlit(target, rop);
                break;
            }
            const QImage image =
                emfBitmap(r, r.u32(84), infoSize, r.u32(92), r.u32(96), player.pixelBudget);
            const QSizeF sourceSize = type == 77 ? sizeAt(100) : target.size();
            player.drawImage(target, image, QRectF(point(44), sourceSize), rop);
            break;
        }
        case 114:   // AlphaBlend
        case 116: { // TransparentBlt
            const QRectF target(point(24), sizeAt(32));
            const quint32 blend = r.u32(40);
            const bool sourceAlpha = type == 114 && ((blend >> 24) & 1);
            QImage image = emfBitmap(r, r.u32(84), r.u32(88), r.u32(92), r.u32(96),
                                     player.pixelBudget, sourceAlpha);
            double opacity = 1;
            if (type == 114) {
                opacity = ((blend >> 16) & 0xff) / 255.0;
            } else if (!image.isNull()) {
                // The colour named in place of the raster operation is left out.
                image = image.convertToFormat(QImage::Format_ARGB32);
                const QRgb clear = colorRef(blend).rgb();
                for (int y = 0; y < image.height(); ++y) {
                    QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
                    for (int x = 0; x < image.width(); ++x)
                        if ((line[x] | 0xff000000u) == clear)
                            line[x] = 0;
                }
            }
            player.drawImage(target, image, QRectF(point(44), sizeAt(100)), 0xCC0020, opacity);
            break;
        }
        case 81: { // StretchDIBits
            const QImage image =
                emfBitmap(r, r.u32(48), r.u32(52), r.u32(56), r.u32(60), player.pixelBudget);
            const QRectF target(point(24), sizeAt(72));
            const QSizeF sourceSize = sizeAt(40);
            // The source is given from the bottom row of the bitmap.
            const double sourceY = double(image.height()) - r.i32(36) - sourceSize.height();
            player.drawImage(target, image, QRectF(QPointF(r.i32(32), sourceY), sourceSize),
                             r.u32(68));
            break;
        }
        case 80: { // SetDIBitsToDevice
            const QImage image =
                emfBitmap(r, r.u32(48), r.u32(52), r.u32(56), r.u32(60), player.pixelBudget);
            const QSizeF sourceSize = sizeAt(40);
            const QRectF target(point(24), sourceSize);
            const double sourceY = double(image.height()) - r.i32(36) - sourceSize.height();
            player.drawImage(target, image, QRectF(QPointF(r.i32(32), sourceY), sourceSize),
                             0xCC0020);
            break;
        }
        default: // comments (EMF+ among them), palettes, modes that change nothing drawn
            break;
        }
    }
}

} // namespace

QImage render(QByteArrayView bytes, QByteArrayView format, QSize size)
{
    if (size.isEmpty() || size.width() > DocumentImages::maxSide ||
        size.height() > DocumentImages::maxSide ||
        qint64(size.width()) * size.height() > DocumentImages::maxPixels)
        return {};
    const bool emf = format == QByteArrayView("emf");
    if (!emf && format != QByteArrayView("wmf"))
        return {};
    const Bytes data(bytes);

    QRectF frame;
    QSizeF pixelsPerMm;
    qint64 recordsAt = 0;
    if (emf) {
        if (data.u32(0) != 1 || data.u32(40) != emfSignature || !data.has(0, 88) ||
            data.u32(4) < 88)
            return {};
        const QRectF bounds = emfRect(data, 8);
        const QRectF frameMm = emfRect(data, 24); // hundredths of a millimetre
        const double deviceX = data.i32(72), deviceY = data.i32(76);
        const double mmX = data.i32(80), mmY = data.i32(84);
        if (deviceX > 0 && deviceY > 0 && mmX > 0 && mmY > 0)
            pixelsPerMm = QSizeF(deviceX / mmX, deviceY / mmY);
        else
            pixelsPerMm = QSizeF(96 / 25.4, 96 / 25.4);
        frame = QRectF(frameMm.left() * pixelsPerMm.width() / 100,
                       frameMm.top() * pixelsPerMm.height() / 100,
                       frameMm.width() * pixelsPerMm.width() / 100,
                       frameMm.height() * pixelsPerMm.height() / 100)
                    .normalized();
        // Without a frame, the bounds (inclusive device pixels) serve.
        if (frame.width() < 1e-6 || frame.height() < 1e-6)
            frame = bounds.right() >= bounds.left() && bounds.bottom() >= bounds.top()
                        ? bounds.adjusted(0, 0, 1, 1)
                        : QRectF();
    } else {
        if (!wmfHeader(data, recordsAt, frame))
            return {};
        // The EMF inside says more than its WMF rendering (Unicode text,
        // exact coordinates): drawn when it can be.
        const QByteArray inside = embeddedEmf(data, recordsAt);
        if (!inside.isEmpty()) {
            QImage image = render(inside, "emf", size);
            if (!image.isNull())
                return image;
        }
        if (frame.isEmpty())
            frame = wmfWindowFrame(data, recordsAt);
    }
    if (!(frame.width() > 1e-6 && frame.height() > 1e-6) || !std::isfinite(frame.width()) ||
        !std::isfinite(frame.height()))
        return {};

    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(Qt::white);
    {
        Player player(image, emf);
        player.setFrame(frame, pixelsPerMm);
        player.setAreaBudget(std::max<qint64>(
            maxPaintedArea, minPaintedFrames * qint64(size.width()) * size.height()));
        if (emf)
            playEmf(player, data);
        else
            playWmf(player, data, recordsAt);
        if (!player.drew())
            return {};
    }
    return image;
}

} // namespace Inkwell::MetafilePlayer
