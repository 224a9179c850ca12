// A piecewise copy of a document, kept up to date as the document changes, so
// that taking a snapshot for a draft costs only the pieces edited since the
// last one, not a pass over the whole document on the GUI thread.
#pragma once

#include "core/documentimages.h"
#include "rtf/rtfkept.h"

#include <QFont>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>

#include <chrono>
#include <memory>
#include <vector>

class QTextDocument;

namespace Inkwell {

// The text of one stretch of the document with its character formats. Never
// changed once made, so the GUI thread and a worker may share it.
struct DocumentPiece {
    struct Run {
        int offset;
        int length;
        QTextCharFormat format;
    };
    QString text; // paragraph breaks as U+2029, pictures as U+FFFC
    std::vector<Run> runs;
    QStringList pictures;        // names of the pictures in this stretch
    std::vector<int> softBreaks; // offsets of the paragraph breaks that are no line end
};

// Everything a draft needs of a document, read on any thread.
struct DocumentSnapshot {
    std::vector<std::shared_ptr<const DocumentPiece>> pieces;
    QFont defaultFont;
    QHash<QString, DocumentImages::Picture> pictures;
    // What the file the document came from held that the editor does not
    // show (headers, footers, document information).
    Rtf::Kept::DocumentGroups kept;
};

// A new document with the snapshot's content; safe on a worker thread.
std::unique_ptr<QTextDocument> buildDocument(const DocumentSnapshot &snapshot);

class DocumentShadow : public QObject {
    Q_OBJECT
public:
    explicit DocumentShadow(QTextDocument *document, int pieceSize = 32 * 1024,
                            QObject *parent = nullptr);

    // Pieces edited since they were last copied.
    int stalePieces() const;
    // Copies stale pieces until the budget is spent; true when none is left.
    bool refresh(std::chrono::milliseconds budget);
    // Copies what is stale, then shares every piece with the snapshot.
    DocumentSnapshot snapshot();

private:
    struct Piece {
        int length;
        std::shared_ptr<const DocumentPiece> copy; // null while stale
    };

    void contentsChanged(int position, int removed, int added);
    void markAllStale();
    void appendStale(std::vector<Piece> &out, int length) const;
    std::shared_ptr<const DocumentPiece> copyRange(int from, int to) const;
    int shadowedLength() const;

    QTextDocument *m_document;
    int m_pieceSize;
    std::vector<Piece> m_pieces;
    int m_total = 0; // the characters covered: all but the final paragraph mark
};

} // namespace Inkwell
