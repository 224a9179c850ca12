// The skin engine's four entry points. On Windows the closed engine in
// SkinH_VB6.dll and SkinH.dll answers them when those libraries are there;
// everywhere else the built-in engine does, with Qt style sheets.
#pragma once

#include "core/error.h"

#include <QString>

#include <memory>
#include <optional>

namespace Inkwell {

class SkinLocations;

// A skin that cannot be applied; `why` is the reason, for the user. An
// engine call returns it, or no Error when the skin is on.
inline Error skinFailure(const QString &why)
{
    return Error{QStringLiteral("无法应用皮肤"), why};
}

class SkinEngine {
public:
    virtual ~SkinEngine() = default;

    // Applies the engine's own choice of skin, without a file name.
    virtual std::optional<Error> SkinH_Attach() = 0;
    // Applies the skin in path; password opens protected skins.
    virtual std::optional<Error> SkinH_AttachEx(const QString &path, const QString &password) = 0;
    // Nine settings whose meaning is the engine's own.
    virtual std::optional<Error> SkinH_AdjustAero(int value1, int value2, int value3, int value4,
                                                  int value5, int value6, int value7, int value8,
                                                  int value9) = 0;
    virtual std::optional<Error> SkinHme() = 0;
};

// The engine for this system: the libraries' where they load, else built-in.
std::unique_ptr<SkinEngine> makeSkinEngine(const SkinLocations &locations);

// The start-up binding: SkinH_Attach, SkinHme, then SkinH_AdjustAero with the
// program's values. A call that fails is passed over: the program then runs
// with the look it has.
void bindSkinEngine(SkinEngine &engine);

} // namespace Inkwell
