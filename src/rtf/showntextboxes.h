// Text boxes shown in the window: the shapes a read kept, described for the
// view (see core/textboxes.h).
#pragma once

#include "core/textboxes.h"

#include <QByteArrayView>

#include <vector>

class QTextDocument;

namespace Inkwell::Rtf {

// The text boxes of the shapes ({\shp ...} with {\shptxt ...}) in `raw`,
// kept RTF groups, \'xx bytes decoded in `codePage`. A shape placed on the
// page rather than by its paragraph is put at its paragraph's top. Bounded:
// a hostile group gives at most a few boxes of a few thousand characters.
std::vector<TextBox> textBoxesIn(QByteArrayView raw, int codePage);

// Sets textBoxProperty on the characters and paragraph marks in [from, to]
// of `document` whose kept groups hold shapes with text. Costs one look at
// the document's formats when there are none.
void showTextBoxes(QTextDocument &document, int from, int to, int codePage);

} // namespace Inkwell::Rtf
