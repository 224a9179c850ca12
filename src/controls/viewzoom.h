// The zoom of a view alone: the document's fonts and pictures keep their
// sizes, so printing and saving do not see it. Steps along a fixed scale.
#pragma once

#include <QImage>

class QTextDocument;

namespace Inkwell {

class ViewZoom {
public:
    // Steps from 100 %: negative out, positive in.
    int step() const { return m_step; }
    qreal factor() const;
    // Moves `steps` along the scale, stopping at its ends; true when it moved.
    bool stepBy(int steps);
    // The whole steps a wheel turn of `angleDelta` makes (one notch is 120;
    // touchpads send parts of a notch, which add up).
    int stepsOfWheel(int angleDelta);
    // Lays the document out at the zoom, for a screen of the given logical
    // resolution.
    void applyTo(QTextDocument &document, qreal logicalDpiX, qreal logicalDpiY);

private:
    int m_step = 0;
    QImage m_device;          // the resolution the layout measures against
    int m_wheelRemainder = 0; // a fine-grained wheel's part step
};

} // namespace Inkwell
