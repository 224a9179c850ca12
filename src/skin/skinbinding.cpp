#include "skin/skinengine.h"

namespace Inkwell {

void bindSkinEngine(SkinEngine &engine)
{
    engine.SkinH_Attach();
    engine.SkinHme();
    engine.SkinH_AdjustAero(204, 36, 12, 9, 0, 0, 0, 0, 0);
}

} // namespace Inkwell
