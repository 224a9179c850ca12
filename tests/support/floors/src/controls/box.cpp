// A control that includes what lies below it only: allowed.
#include "controls/box.h"
#include "core/error.h"
