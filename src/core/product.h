// The product's name as the user sees it: in captions, message-box titles
// and the About box. One place, so that a window title and a box never differ.
#pragma once

#include <QString>

namespace Inkwell::Product {

inline const QString name = QStringLiteral("Inkwell");
// What follows the document's name in the caption: "notes.txt - Inkwell".
inline const QString captionSuffix = QStringLiteral(" - ") + name;
inline const QString untitledCaption = QStringLiteral("无标题") + captionSuffix;
// The title of every message box the window shows.
inline const QString messageTitle = name;
inline const QString aboutTitle = QStringLiteral("关于 ") + name;

} // namespace Inkwell::Product
