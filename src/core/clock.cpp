#include "core/clock.h"

#include <QRegularExpression>

namespace Inkwell {

QString timeOfDayText(const QTime &time, const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Drop the zone ("t", "tt", ...) with the blanks or brackets around it.
    static const QRegularExpression zone(QStringLiteral("\\s*[\\(\\[]?t+[\\)\\]]?\\s*"));
    format.replace(zone, QStringLiteral(" "));
    format = format.trimmed();
    if (!format.contains(u's'))
        format = QStringLiteral("HH:mm:ss");
    return locale.toString(time, format);
}

} // namespace Inkwell
