// The .txt association on freedesktop systems: a desktop entry for Inkwell
// in $XDG_DATA_HOME/applications and the text/plain default in
// $XDG_CONFIG_HOME/mimeapps.list, the file that xdg-open and the desktops
// consult. The default it replaced is kept in $XDG_CONFIG_HOME/inkwell/ so
// that restore() can put it back.
#pragma once

#include "shell/desktopassociation.h"

#include <optional>

namespace Inkwell {

class XdgDesktopAssociation : public DesktopAssociation {
public:
    XdgDesktopAssociation(const QString &executablePath, const QString &dataHome,
                          const QString &configHome);
    // The directories from XDG_DATA_HOME and XDG_CONFIG_HOME, or their defaults.
    static XdgDesktopAssociation forUser(const QString &executablePath);

    std::optional<Error> install() override;
    std::optional<Error> restore() override;

    QString desktopFilePath() const;
    QString mimeAppsPath() const;
    QString iconPath(int size) const;

    static inline const QString desktopId = QStringLiteral("inkwell.desktop");

    // The Exec= value that runs the executable with the file: quoted and
    // escaped as the Desktop Entry format asks when the path needs it.
    static QString execValue(const QString &executablePath);
    // mimeapps.list text with mimeType's line in [Default Applications] set
    // to value (or removed when value is empty), every other line kept.
    // previous receives the value the line had, if there was one.
    static QString withDefault(const QString &text, const QString &mimeType,
                               const std::optional<QString> &value,
                               std::optional<QString> *previous = nullptr);

private:
    static std::optional<Error> writeFile(const QString &path, const QByteArray &bytes);
    QString rememberedPath() const;

    QString m_executablePath;
    QString m_dataHome;
    QString m_configHome;
};

} // namespace Inkwell
