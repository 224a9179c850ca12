// A tolerant reader of the RTF that real programs write.
#pragma once

#include "core/documentimages.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QTextCursor;

namespace Inkwell::Rtf {

// True when the bytes begin with "{\rtf".
bool looksLikeRtf(QByteArrayView bytes);

struct ReadResult {
    bool ok = false;
    QString error; // a short reason for the user when !ok
    // How the pictures spent the budget; heldBack > 0 when some of them are
    // placeholders (their bytes kept for saving) because it ran out.
    DocumentImages::BudgetUse pictures;
    // Bytes of groups the editor keeps without showing that were dropped
    // because the document already held as many as it may.
    qint64 keptDropped = 0;
};

// Limits that keep hostile input from taking unbounded time or memory.
inline constexpr int maxGroupDepth = 1000;

// Inserts the document's content at the cursor as one undo step. Text whose
// font and document name no code page is decoded with `defaultCodePage`.
// A truncated file (outer group never closed) loads what was read.
// Pictures are decoded while their decoded sizes, summed, stay within
// `pictureBudget` bytes; the rest become placeholders.
ReadResult read(QByteArrayView rtf, QTextCursor &cursor, int defaultCodePage,
                qint64 pictureBudget = DocumentImages::pictureBudget);

} // namespace Inkwell::Rtf
