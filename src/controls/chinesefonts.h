// The Chinese font names Windows documents carry (宋体, SimHei, 楷体_GB2312,
// ...) and the installed faces that stand in for them. A document keeps the
// Windows name, so that Word on Windows finds the face again; on this system
// the text shows in the stand-in.
#pragma once

#include <QString>
#include <QStringList>

namespace Inkwell {

// The installed-or-not faces that stand in for a Windows font name, best
// first; empty for a name that needs no stand-in. Any case of the name.
QStringList chineseFontSubstitutes(const QString &family);

// Every Windows name with stand-ins, in Chinese and in English.
QStringList windowsChineseFontNames();

// The Windows name as Windows spells it ("simhei" gives "SimHei"), or ""
// when the name is not one of them.
QString windowsChineseFontName(const QString &typed);

// The Chinese names a font dialog offers as families (宋体, 新宋体, 黑体,
// 楷体, 仿宋, 微软雅黑), those for which a stand-in is installed.
QStringList offeredChineseFamilies();

// The installed face a Windows name shows in, or "" when none is installed.
QString installedStandIn(const QString &family);

} // namespace Inkwell
