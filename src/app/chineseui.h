// The whole interface is Chinese, so the dialogs Qt supplies (file, font,
// colour, print, the standard buttons) must speak it too, whatever the
// locale the program was started in; and the Chinese font names Windows
// documents carry must reach an installed face.
#pragma once

#include "controls/chinesefonts.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCoreApplication;

namespace Inkwell {

// Installs Qt's own Simplified-Chinese translations on the application and
// returns the file used; none when no translation file could be loaded (the
// dialogs then stay in Qt's English).
std::optional<QString> installQtChinese(QCoreApplication &app);

// Registers the stand-ins with QFont, so a document keeps its font name
// (宋体 stays 宋体 when saved) while it shows in a face that is there.
void installChineseFontSubstitutes();

} // namespace Inkwell
