// Built where the closed engine cannot run (see CMakeLists.txt).
#include "skin/builtinskinengine.h"
#include "skin/skinlocations.h"

namespace Inkwell {

std::unique_ptr<SkinEngine> makeSkinEngine(const SkinLocations &locations)
{
    return std::make_unique<BuiltinSkinEngine>(locations.startupCandidates());
}

} // namespace Inkwell
