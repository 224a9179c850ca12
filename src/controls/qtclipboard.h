#pragma once

#include "core/clipboard.h"

namespace Inkwell {

// The system clipboard through QClipboard, which offers the text in the
// system's Unicode format (CF_UNICODETEXT besides CF_TEXT on Windows).
class QtClipboard : public Clipboard {
public:
    bool setText(const QString &text) override;
    QString text() const override;
};

} // namespace Inkwell
