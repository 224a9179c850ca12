// The character format of a selection as a font dialog shows it: one value
// per part, and which parts the selection holds in more than one value.
#pragma once

#include <QColor>
#include <QString>
#include <optional>

class QTextCharFormat;
class QTextCursor;

namespace Inkwell {

struct SelectionFormat {
    enum Part {
        Family = 1,
        Size = 2,
        Bold = 4,
        Italic = 8,
        Underline = 16,
        StrikeOut = 32,
        Colour = 64
    };
    QString family;
    double pointSize = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::optional<QColor> colour; // none: automatic, the text has no colour of its own
    int mixed = 0;                // Part bits the selection holds in more than one value
};

// The format of the cursor's selection; without a selection `typed`, the
// format of what is typed next at the cursor.
SelectionFormat selectionFormatOf(const QTextCursor &cursor, const QTextCharFormat &typed);

} // namespace Inkwell
