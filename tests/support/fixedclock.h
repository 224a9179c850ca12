#pragma once

#include "core/clock.h"

namespace Inkwell::Testing {

// A clock that stands still at a chosen moment, with a 24-hour locale.
class FixedClock : public Clock {
public:
    QDateTime moment{QDate(2012, 9, 5), QTime(16, 7, 11)};
    QLocale fixedLocale{QLocale::Chinese, QLocale::China};
    QDateTime now() const override { return moment; }
    QLocale locale() const override { return fixedLocale; }
};

} // namespace Inkwell::Testing
