// The system clipboard as the editing commands see it: text in, text out.
// Tests put a clipboard here that can refuse to be written.
#pragma once

#include <QString>

namespace Inkwell {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces everything on the clipboard with `text` (Unicode, so every
    // character survives). False when the clipboard could not be written.
    virtual bool setText(const QString &text) = 0;
    // The clipboard's text; "" when it holds none (empty, or a picture only).
    virtual QString text() const = 0;
};

} // namespace Inkwell
