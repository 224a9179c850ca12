// Find and find next: case-insensitive, inside words, never wrapping, and
// silent when nothing is found.
#pragma once

#include <QString>

namespace Inkwell {

class MessageHost;
class RichTextBox;

namespace Commands {

// Asks for the text (offering `SearchText`), keeps the answer in
// `SearchText` (a cancel keeps ""), and searches the selection if there is
// one, else the whole document.
void find(RichTextBox &Text1, MessageHost &messages, QString &SearchText);
// Searches `SearchText` from the end of the selection (or from the caret) to
// the end of the document.
void findon(RichTextBox &Text1, const QString &SearchText);

} // namespace Commands
} // namespace Inkwell
