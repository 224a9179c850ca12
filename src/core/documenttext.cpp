#include "core/documenttext.h"

namespace Inkwell {

void normaliseBreaks(QString &text)
{
    // One pass in place: QString::replace of a two-character needle is
    // quadratic on big texts in Qt 6.4.
    const qsizetype first = text.indexOf(u'\r');
    if (first < 0)
        return;
    char16_t *d = reinterpret_cast<char16_t *>(text.data());
    const qsizetype n = text.size();
    qsizetype w = first;
    for (qsizetype r = first; r < n; ++r) {
        const char16_t c = d[r];
        if (c == u'\r') {
            d[w++] = u'\n';
            if (r + 1 < n && d[r + 1] == u'\n')
                ++r;
        } else {
            d[w++] = c;
        }
    }
    text.truncate(w);
}

} // namespace Inkwell
