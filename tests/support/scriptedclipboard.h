// The process's own clipboard (the offscreen platform keeps one in memory),
// with a switch that makes writing fail as a clipboard held by another
// program would, and counters that show which commands reached it.
#pragma once

#include "controls/qtclipboard.h"

namespace Inkwell::Testing {

class ScriptedClipboard : public Clipboard {
public:
    bool refuseWrites = false;
    int writes = 0;
    mutable int reads = 0;

    bool setText(const QString &text) override
    {
        ++writes;
        return !refuseWrites && m_real.setText(text);
    }
    QString text() const override
    {
        ++reads;
        return m_real.text();
    }

private:
    QtClipboard m_real;
};

} // namespace Inkwell::Testing
