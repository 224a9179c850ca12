// The menu command "更换皮肤(&S)...": the user picks a .she file in
// CommonDialog1; it is copied to "skinH.she", where it outlives the run, and
// the engine is attached to the copy. The copy is done in-process and
// finished before the engine reads it; a copy or attach that fails is told
// to the user and leaves the previous "skinH.she" as it was.
#pragma once

#include "skin/skinengine.h"
#include "skin/skinlocations.h"

namespace Inkwell {

class CommonDialog;
class MessageHost;

class SkinCommand {
public:
    SkinCommand(CommonDialog &CommonDialog1, SkinEngine &engine, MessageHost &messages,
                const SkinLocations &locations);

    static inline const QString preset = QStringLiteral("*.she");
    // Title, filter and preset file name of the skin dialog.
    static void presetDialog(CommonDialog &dialog);

    void run();

    // Copies source to the skin destination and attaches the engine to it.
    // On failure the destination holds what it held before.
    SkinResult apply(const QString &source);
    // Where the last successful apply() put the skin.
    QString lastDestination() const { return m_lastDestination; }

private:
    CommonDialog &m_dialog;
    SkinEngine &m_engine;
    MessageHost &m_messages;
    SkinLocations m_locations;
    QString m_lastDestination;
};

} // namespace Inkwell
