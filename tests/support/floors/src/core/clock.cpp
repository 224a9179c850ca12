// A core file that uses a widget: the include check must refuse it.
#include "core/clock.h"

#include <QWidget>
