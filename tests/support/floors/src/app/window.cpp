// The window may include every folder.
#include "controls/box.h"
#include "document/model.h"
