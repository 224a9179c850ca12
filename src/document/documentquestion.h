// A question a document command needs answered before it goes on. The
// model never asks: it returns the question, the window asks it in a
// message box and passes the answer back.
#pragma once

#include "core/messagehost.h"

#include <QString>

namespace Inkwell {

struct Question {
    enum class Topic {
        SaveChanges,           // the document changed: save it first?
        FormatLoss,            // a plain-text save drops formats and pictures
        UndecodableBytes,      // the file read held bytes its encoding has no character for
        UnencodableCharacters, // characters the file's encoding cannot hold become "?"
        EncryptedToClear,      // a document from an encrypted file is saved unscrambled
        PlainBecomesRtf,       // a plain-text document is saved as RTF under another ending
        ChangedOnDisk,         // the file saved over was changed by another program since
        ReloadChanged,         // the document's file changed on disk: read it again?
    };
    Topic topic;
    QString text;
    // The save prompt offers Yes, No and Cancel (Yes the default); the
    // others Yes and No, with `defaultAnswer` for Enter.
    bool withCancel = false;
    MessageAnswer defaultAnswer = MessageAnswer::No;
    MessageIcon icon = MessageIcon::Exclamation;
};

} // namespace Inkwell
