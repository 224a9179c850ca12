#include "core/textboxes.h"

#include <algorithm>

namespace Inkwell {

namespace {

// Twice the widest page Word allows (22 inches).
constexpr int maxTwips = 2 * 31680;

} // namespace

QStringList describeTextBoxes(const std::vector<TextBox> &boxes)
{
    QStringList described;
    for (const TextBox &box : boxes)
        described << QStringLiteral("%1,%2,%3,%4,%5;")
                             .arg(box.left)
                             .arg(box.top)
                             .arg(box.right)
                             .arg(box.bottom)
                             .arg(box.halfPoints) +
                         box.text;
    return described;
}

std::vector<TextBox> textBoxesOf(const QStringList &described)
{
    std::vector<TextBox> boxes;
    for (const QString &entry : described) {
        const qsizetype end = entry.indexOf(u';');
        const QStringList numbers = entry.left(std::max<qsizetype>(end, 0)).split(u',');
        if (end < 0 || numbers.size() != 5)
            continue;
        const auto number = [&numbers](int i, int low, int high) {
            return std::clamp(numbers[i].toInt(), low, high);
        };
        TextBox box;
        box.left = number(0, -maxTwips, maxTwips);
        box.top = number(1, -maxTwips, maxTwips);
        box.right = number(2, box.left, maxTwips);
        box.bottom = number(3, box.top, maxTwips);
        box.halfPoints = number(4, 0, 3276);
        box.text = entry.mid(end + 1);
        boxes.push_back(box);
    }
    return boxes;
}

} // namespace Inkwell
