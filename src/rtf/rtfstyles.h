// The paragraph styles of a file's style sheet, as far as they change what a
// paragraph that names one looks like.
#pragma once

#include <QByteArrayView>
#include <Qt>

#include <map>
#include <optional>

namespace Inkwell::Rtf {

// What a paragraph style says of the words other readers take from it when
// the paragraph itself does not state them: alignment, line spacing and
// contextual spacing. Its indents and spacing before and after are not
// among them: a paragraph's "\pard" sets those to nothing.
struct ParagraphStyle {
    std::optional<Qt::Alignment> alignment; // \ql, \qc, \qr, \qj
    int lineSpacing = 0;                    // \sl; 0: single
    bool lineMultiple = false;              // \slmult
    bool lineStated = false;                // \sl read
    bool contextualSpace = false;           // \contextualspace
    bool tableStyle = false;                // a table style (\ts): a cell's paragraphs take it
    bool operator==(const ParagraphStyle &) const = default;
};

// By style number (\sN; a style with none is style 0). A style takes from the
// style it is based on (\sbasedon) what it does not say itself.
using ParagraphStyles = std::map<int, ParagraphStyle>;

// Which of a run's on-off properties a style sets. A reader applies a
// paragraph's style under the run's own properties (Word gives every
// paragraph without \s the style 0), so a run whose property is off must say
// so where a style could turn it on.
enum StyleToggle : unsigned { StyleBold = 1, StyleItalic = 2, StyleUnderline = 4, StyleStrike = 8 };

// The paragraph and table styles of the `{\stylesheet ...}` group in `rtf`;
// none without one. Character and section styles are left out. `toggles`,
// when given, gets the StyleToggle bits that the styles of any kind set.
ParagraphStyles paragraphStyles(QByteArrayView rtf, unsigned *toggles = nullptr);

} // namespace Inkwell::Rtf
