// Text boxes: shapes with text of their own that a rich document places
// beside its paragraphs. The document keeps the shape as read (rtf/); Qt's
// text layout has no floating boxes, so each is described on the character
// (or paragraph mark) that holds it (textBoxProperty) and the view draws it.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace Inkwell {

struct TextBox {
    // The box's place in twips: left and right from the text's left edge,
    // top and bottom from the top of the paragraph that holds it.
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int halfPoints = 0; // the font size its text names first; 0: none
    QString text;       // its paragraphs, separated by "\n"
    bool operator==(const TextBox &) const = default;
};

// textBoxProperty's form of boxes, and back (malformed entries dropped,
// places held to what a page can hold).
QStringList describeTextBoxes(const std::vector<TextBox> &boxes);
std::vector<TextBox> textBoxesOf(const QStringList &described);

} // namespace Inkwell
