// The file menu's document commands as the window runs them: each asks
// what must be asked (a dialog, the save prompt, a save's questions) and
// hands the answers to the model. Failures come back for the window to
// tell; Cancel in a dialog or a question is a plain outcome.
#pragma once

#include "core/error.h"
#include "core/messagehost.h"
#include "document/documentfile.h"
#include "document/documentquestion.h"

#include <QString>
#include <optional>

namespace Inkwell {

class CommonDialog;
class DocumentState;

class DocumentCommands {
public:
    // `fileDialog` chooses the files of open and save, `scrambledFileDialog`
    // those of opening a scrambled file.
    DocumentCommands(DocumentState &document, CommonDialog &fileDialog,
                     CommonDialog &scrambledFileDialog, MessageHost &messages);

    bool DocumentChanged() const;
    // The save prompt: Yes, No or Cancel.
    MessageAnswer SaveChangesPrompt();
    // A question of the model's, asked in a message box.
    MessageAnswer ask(const Question &question);

    // The prompt before the document is replaced or the window closes: true
    // when the caller may go on (unchanged, No, or Yes and the save worked).
    Result<bool> mayDiscard();
    // The save dialog, then saveTo() with the chosen file: true when saved,
    // false when a dialog or a question was cancelled.
    Result<bool> save();
    // Saves to the path after the questions the save raises.
    Result<bool> saveTo(const QString &path, const QString &fileTitle);

    std::optional<Error> new_();
    std::optional<Error> open();
    std::optional<Error> opensafe();
    // A file dropped on the window: opened as the open command would open
    // the same file chosen in its dialog (the save question first).
    std::optional<Error> openDropped(const QString &path);
    // Reads the file and tells what the user should know about what was
    // read (pictures held back, hidden content cut).
    std::optional<Error> openFile(const QString &path, ReadMode mode);
    void tellLoadWarnings();
    // The window became active again: when the document's file changed on
    // disk meanwhile, offers once to read it again (the save prompt first
    // if the document has unsaved changes).
    std::optional<Error> offerReload();

private:
    DocumentState &m_document;
    CommonDialog &m_fileDialog;
    CommonDialog &m_scrambledFileDialog;
    MessageHost &m_messages;
};

} // namespace Inkwell
