// Rows shown as high as the file asks.
#pragma once

class QTextCursor;

namespace Inkwell::Rtf {

// Qt lays a table row out as high as its content only: the rows of the tables
// in [from, to] of the cursor's document whose cells hold a height
// (rowHeightProperty) and are lower than that are shown that high, by more
// padding below the text of the cells that begin in them and end there. The
// file's own padding stays in statedBottomPaddingProperty, which the writer
// writes. The tables are measured in a copy laid out at the document's
// width (where it has none yet, the printed page's) and default font: the
// document's own layout may lay nothing out while it is read. A row whose
// cells all go on below it is left as it is; so is a row higher than asked,
// also one of an exact height: Qt cannot cut it. The changes are joined to
// the cursor's last edit block, which must be closed.
void showRowHeights(QTextCursor &cursor, int from, int to);

} // namespace Inkwell::Rtf
