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

void installChineseFontSubstitutes()
{
    for (const QString &name : windowsChineseFontNames())
        QFont::insertSubstitutions(name, chineseFontSubstitutes(name));
}

} // namespace Inkwell
