// A model that reaches up into the editing control: the include check must refuse it.
#include "controls/richtextbox.h"
#include "core/error.h"
#include "rtf/rtfreader.h"
