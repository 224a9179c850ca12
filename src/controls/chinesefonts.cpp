#include "controls/chinesefonts.h"

#include <QFontDatabase>

namespace Inkwell {

namespace {

// Noto CJK, the AR PL faces and WenQuanYi are what Debian packages; the last
// entries of each list let any one of them stand in for every name.
const QStringList serif{QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                        QStringLiteral("WenQuanYi Zen Hei")};
const QStringList sans{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("AR PL UMing CN")};
const QStringList kai{QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Micro Hei")};
// No free FangSong face is packaged; a Ming (Song) face is the closest.
const QStringList fang{QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};

const struct {
    const char16_t *name;
    const QStringList &faces;
    bool offered; // listed by its Chinese name in the font dialog
} windowsFonts[] = {
    {u"宋体", serif, true},        {u"SimSun", serif, false},
    {u"新宋体", serif, true},      {u"NSimSun", serif, false},
    {u"黑体", sans, true},         {u"SimHei", sans, false},
    {u"楷体", kai, true},          {u"KaiTi", kai, false},
    {u"楷体_GB2312", kai, false},  {u"KaiTi_GB2312", kai, false},
    {u"仿宋", fang, true},         {u"FangSong", fang, false},
    {u"仿宋_GB2312", fang, false}, {u"FangSong_GB2312", fang, false},
    {u"微软雅黑", sans, true},     {u"Microsoft YaHei", sans, false},
};

} // namespace

QStringList chineseFontSubstitutes(const QString &family)
{
    for (const auto &row : windowsFonts)
        if (family.compare(QString::fromUtf16(row.name), Qt::CaseInsensitive) == 0)
            return row.faces;
    return {};
}

QStringList windowsChineseFontNames()
{
    QStringList out;
    for (const auto &row : windowsFonts)
        out << QString::fromUtf16(row.name);
    return out;
}

QString windowsChineseFontName(const QString &typed)
{
    for (const auto &row : windowsFonts)
        if (typed.compare(QString::fromUtf16(row.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(row.name);
    return {};
}

QString installedStandIn(const QString &family)
{
    for (const QString &face : chineseFontSubstitutes(family))
        if (QFontDatabase::hasFamily(face))
            return face;
    return {};
}

QStringList offeredChineseFamilies()
{
    QStringList out;
    for (const auto &row : windowsFonts) {
        const QString name = QString::fromUtf16(row.name);
        if (row.offered && !installedStandIn(name).isEmpty())
            out << name;
    }
    return out;
}

} // namespace Inkwell
