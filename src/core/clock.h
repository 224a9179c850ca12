#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace Inkwell {

// The system clock and the user's time format; tests fix both.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual QLocale locale() const { return QLocale::system(); }
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// The time of day in the locale's long time format (hours, minutes and
// seconds), without the time-zone name some locales put into it.
QString timeOfDayText(const QTime &time, const QLocale &locale);

} // namespace Inkwell
