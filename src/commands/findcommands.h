// Find and find next: case-insensitive, inside words, never wrapping, and
// silent when nothing is found.
#pragma once

#include <QString>

namespace Inkwell {

class MessageHost;
class RichTextBox;

namespace Commands {

// Asks for the text (offering `searchText`), keeps the answer in
// `searchText` (a cancel keeps ""), and searches the selection if there is
// one, else the whole document.
void find(RichTextBox &editor, MessageHost &messages, QString &searchText);
// Searches `searchText` from the end of the selection (or from the caret) to
// the end of the document.
void findon(RichTextBox &editor, const QString &searchText);

} // namespace Commands
} // namespace Inkwell
