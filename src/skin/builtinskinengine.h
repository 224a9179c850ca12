// The skin engine where the closed one is absent: a skin file that is UTF-8
// text is a Qt style sheet for the whole application; anything else is
// refused with the reason, and the look stays as it was.
#pragma once

#include "skin/skinengine.h"

#include <QStringList>

#include <array>

namespace Inkwell {

class BuiltinSkinEngine : public SkinEngine {
public:
    // startupSkins: the files SkinH_Attach tries, first existing one wins.
    explicit BuiltinSkinEngine(const QStringList &startupSkins);

    std::optional<Error> SkinH_Attach() override;
    std::optional<Error> SkinH_AttachEx(const QString &path, const QString &password) override;
    std::optional<Error> SkinH_AdjustAero(int value1, int value2, int value3, int value4,
                                          int value5, int value6, int value7, int value8,
                                          int value9) override;
    std::optional<Error> SkinHme() override;

    // What the calls that change nothing visible were given.
    std::array<int, 9> aeroSettings() const { return m_aero; }
    int hmeCalls() const { return m_hmeCalls; }
    // The skin file applied last, empty when none.
    QString attachedFile() const { return m_attached; }

    // The style sheet in path, or why it is not one.
    static Result<QString> readStyleSheet(const QString &path);

private:
    QStringList m_startupSkins;
    std::array<int, 9> m_aero{};
    int m_hmeCalls = 0;
    QString m_attached;
};

} // namespace Inkwell
