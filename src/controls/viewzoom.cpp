#include "controls/viewzoom.h"

#include <QAbstractTextDocumentLayout>
#include <QTextDocument>

#include <algorithm>
#include <iterator>

namespace Inkwell {

namespace {

// The zoom scale, from 100 % (index `unzoomed`) out and in.
constexpr qreal zoomScale[] = {0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                               1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};
constexpr int unzoomed = 7;
constexpr int zoomSteps = int(std::size(zoomScale));

} // namespace

qreal ViewZoom::factor() const
{
    return zoomScale[unzoomed + m_step];
}

bool ViewZoom::stepBy(int steps)
{
    const int step = std::clamp(m_step + steps, -unzoomed, zoomSteps - 1 - unzoomed);
    if (step == m_step)
        return false;
    m_step = step;
    return true;
}

int ViewZoom::stepsOfWheel(int angleDelta)
{
    m_wheelRemainder += angleDelta;
    const int steps = m_wheelRemainder / 120;
    m_wheelRemainder -= steps * 120;
    return steps;
}

void ViewZoom::applyTo(QTextDocument &document, qreal logicalDpiX, qreal logicalDpiY)
{
    // The layout turns points into pixels by its paint device's resolution
    // (and the picture handler scales by it too), so a device that claims
    // more dots per inch than the screen enlarges every font and picture
    // alike, explicit sizes included, without touching a character format.
    // Printing lays out a copy against the printer; saving reads formats only.
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    if (m_step == 0) {
        layout->setPaintDevice(nullptr);
    } else {
        m_device = QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
        m_device.setDotsPerMeterX(qRound(logicalDpiX * factor() / 0.0254));
        m_device.setDotsPerMeterY(qRound(logicalDpiY * factor() / 0.0254));
        layout->setPaintDevice(&m_device);
    }
    document.markContentsDirty(0, document.characterCount());
}

} // namespace Inkwell
