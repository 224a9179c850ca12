// Inserting the time and date as text, and a picture from a file.
#pragma once

#include "core/error.h"

#include <QDateTime>
#include <QLocale>
#include <optional>

namespace Inkwell {

class Clock;
class CommonDialog;
class RichTextBox;

namespace Commands {

// The time of day in the locale's long format, one blank, then the date as
// year-month-day with a two-digit month and an unpadded day: "14:03:07 2026-12-6".
QString dateText(const QDateTime &when, const QLocale &locale);
// dateText of the clock's present, in place of the selection, caret after it.
void date(RichTextBox &editor, const Clock &clock);

// The picture file chosen in `pictureDialog`, at its own size, in place of
// the selection. Straight into the document: the
// clipboard is left alone.
// Cancelled: nothing happens. A file that is no picture, or one the editor
// cannot show (past the limits of one picture, bytes the decoder refuses):
// an Error with the reason ("图片过大（12000×9000）…"), nothing changed.
std::optional<Error> addpicture(RichTextBox &editor, CommonDialog &pictureDialog);

} // namespace Commands
} // namespace Inkwell
