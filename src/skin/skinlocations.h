// Where the chosen skin is kept between runs: "skinH.she" in the program's
// directory, or, when that directory is not writable (an installed program),
// in the user's data directory, which start-up therefore looks at first.
#pragma once

#include <QString>
#include <QStringList>

namespace Inkwell {

class SkinLocations {
public:
    SkinLocations(const QString &programDirectory, const QString &userDirectory);
    // The running program's directory and $XDG_DATA_HOME/inkwell (or the
    // system's per-user data directory).
    static SkinLocations forThisProgram();
    // The folder of the skins that come with the program ("" when none).
    static QString shippedSkins();

    static inline const QString fileName = QStringLiteral("skinH.she");

    QString programDirectory() const { return m_programDirectory; }
    QString userDirectory() const { return m_userDirectory; }
    QString programSkin() const;
    QString userSkin() const;
    // The skin files start-up tries, the first existing one wins.
    QStringList startupCandidates() const;

private:
    QString m_programDirectory;
    QString m_userDirectory;
};

} // namespace Inkwell
