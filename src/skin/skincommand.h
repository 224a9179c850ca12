// The menu command "更换皮肤(&S)...": the user picks a .she file in the skin
// dialog (`skinDialog`, the window's own); it is copied to "skinH.she", where
// it outlives the run, and the engine is attached to the copy. The copy is
// done in-process and finished before the engine reads it; a copy or attach
// that fails leaves the previous "skinH.she" as it was, and the window tells
// the user how the change went.
#pragma once

#include "core/error.h"
#include "skin/skinengine.h"
#include "skin/skinlocations.h"

#include <optional>

namespace Inkwell {

class CommonDialog;

class SkinCommand {
public:
    SkinCommand(CommonDialog &skinDialog, SkinEngine &engine, const SkinLocations &locations);

    static inline const QString preset = QStringLiteral("*.she");
    // Title, filter and preset file name of the skin dialog.
    static void presetDialog(CommonDialog &dialog);

    // Asks for the skin file and applies it: true when the skin is on,
    // false when the dialog was cancelled, or why it could not be applied.
    // The dialog's file name is back at the preset afterwards.
    Result<bool> run();

    // Copies source to the skin destination and attaches the engine to it.
    // On failure the destination holds what it held before.
    std::optional<Error> apply(const QString &source);
    // Where the last successful apply() put the skin.
    QString lastDestination() const { return m_lastDestination; }

private:
    CommonDialog &m_dialog;
    SkinEngine &m_engine;
    SkinLocations m_locations;
    QString m_lastDestination;
};

} // namespace Inkwell
