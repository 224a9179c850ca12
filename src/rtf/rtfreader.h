// A tolerant reader of the RTF that real programs write.
#pragma once

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
};

// Limits that keep hostile input from taking unbounded time or memory.
inline constexpr int maxGroupDepth = 1000;

// Inserts the document's content at the cursor as one undo step. Text whose
// font and document name no code page is decoded with `defaultCodePage`.
// A truncated file (outer group never closed) loads what was read.
ReadResult read(QByteArrayView rtf, QTextCursor &cursor, int defaultCodePage);

} // namespace Inkwell::Rtf
