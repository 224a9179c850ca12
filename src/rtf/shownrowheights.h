// Rows shown as high as the file asks.
#pragma once

class QTextCursor;

namespace Inkwell::Rtf {

// Qt lays a table row out as high as its content only: the rows of the tables
// in [from, to] of the cursor's document whose cells hold a height
// (rowHeightProperty) and are lower than that are shown that high, by more
// padding below the text of the cells that begin in them and end there. The
// file's own padding stays in statedBottomPaddingProperty, which the writer
// writes. Laid out at the document's width, or where it has none yet at the
// printed page's. A row whose cells all go on below it is left as it is; so
// is a row higher than asked, also one of an exact height: Qt cannot cut it.
// Each step is joined to the cursor's last edit block, which must be closed:
// Qt lays out what an edit block changed when it ends.
void showRowHeights(QTextCursor &cursor, int from, int to);

} // namespace Inkwell::Rtf
