#include "app/chineseui.h"

#include <QCoreApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace Inkwell {

std::optional<QString> installQtChinese(QCoreApplication &app)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // qtbase holds the widgets' and dialogs' texts; "qt" is the meta catalogue
    // some builds ship instead.
    for (const QString &name : {QStringLiteral("qtbase_zh_CN"), QStringLiteral("qt_zh_CN")}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(name, dir)) {
            QCoreApplication::installTranslator(translator);
            // Dialogs format numbers and dates in the interface's language too.
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
            return translator->filePath();
        }
        delete translator;
    }
    return std::nullopt;
}

namespace {

const QStringList serif{QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                        QStringLiteral("Noto Sans CJK SC")};
const QStringList sans{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("AR PL UMing CN")};
const QStringList kai{QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Serif CJK SC")};
// No free FangSong face is packaged; a Ming (Song) face is the closest.
const QStringList fang{QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC")};

// The names Windows documents use, in Chinese and in English.
const struct {
    const char16_t *name;
    const QStringList &faces;
} windowsFonts[] = {
    {u"宋体", serif}, {u"SimSun", serif},  {u"新宋体", serif},     {u"NSimSun", serif},
    {u"黑体", sans},  {u"SimHei", sans},   {u"微软雅黑", sans},    {u"Microsoft YaHei", sans},
    {u"楷体", kai},   {u"KaiTi", kai},     {u"楷体_GB2312", kai},  {u"KaiTi_GB2312", kai},
    {u"仿宋", fang},  {u"FangSong", fang}, {u"仿宋_GB2312", fang}, {u"FangSong_GB2312", fang},
};

} // namespace

QStringList chineseFontSubstitutes(const QString &family)
{
    for (const auto &row : windowsFonts)
        if (family.compare(QString::fromUtf16(row.name), Qt::CaseInsensitive) == 0)
            return row.faces;
    return {};
}

void installChineseFontSubstitutes()
{
    for (const auto &row : windowsFonts)
        QFont::insertSubstitutions(QString::fromUtf16(row.name), row.faces);
}

} // namespace Inkwell
