// A layout that lays out nothing, for a document no view shows: Qt's
// layouts lay out each change as it comes, a paragraph of megabytes whole.
#pragma once

#include <QAbstractTextDocumentLayout>

namespace Inkwell {

class QuietLayout : public QAbstractTextDocumentLayout {
public:
    explicit QuietLayout(QTextDocument *document) : QAbstractTextDocumentLayout(document) {}
    void draw(QPainter *, const PaintContext &) override {}
    int hitTest(const QPointF &, Qt::HitTestAccuracy) const override { return -1; }
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return {}; }
    QRectF frameBoundingRect(QTextFrame *) const override { return {}; }
    QRectF blockBoundingRect(const QTextBlock &) const override { return {}; }

protected:
    void documentChanged(int, int, int) override {}
};

} // namespace Inkwell
