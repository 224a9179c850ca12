#include "skin/skinlocations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace Inkwell {

SkinLocations::SkinLocations(const QString &programDirectory, const QString &userDirectory)
    : m_programDirectory(programDirectory), m_userDirectory(userDirectory)
{
}

namespace {

// An installed program (bin/ beside share/inkwell/) never writes beside
// itself, not even when run by root: its skin goes to the user's directory.
bool isInstalled(const QString &programDirectory)
{
    const QDir dir(programDirectory);
    return dir.dirName() == u"bin" && QFileInfo::exists(dir.filePath(QStringLiteral("../share/inkwell")));
}

} // namespace

SkinLocations SkinLocations::forThisProgram()
{
    const QString program = QCoreApplication::applicationDirPath();
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/inkwell");
    return SkinLocations(isInstalled(program) ? user : program, user);
}

QString SkinLocations::shippedSkins()
{
    // Beside the program in a build tree; under share/ once installed.
    const QDir program(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {QStringLiteral("skins"), QStringLiteral("../share/inkwell/skins")})
        if (QFileInfo(program.filePath(candidate)).isDir())
            return QDir::cleanPath(program.filePath(candidate));
    return QString();
}

QString SkinLocations::programSkin() const
{
    return m_programDirectory + u'/' + fileName;
}

QString SkinLocations::userSkin() const
{
    return m_userDirectory + u'/' + fileName;
}

QStringList SkinLocations::startupCandidates() const
{
    return {userSkin(), programSkin()};
}

} // namespace Inkwell
