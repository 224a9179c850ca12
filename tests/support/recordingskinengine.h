// A skin engine that records the calls it gets, in order, and applies nothing.
#pragma once

#include "skin/skinengine.h"

#include <QStringList>

namespace Inkwell::Testing {

// Records the calls in the order they come.
class RecordingEngine : public SkinEngine {
public:
    QStringList calls;
    std::optional<Error> SkinH_Attach() override
    {
        calls << QStringLiteral("SkinH_Attach()");
        return skinFailure(QStringLiteral("absent"));
    }
    // The reason SkinH_AttachEx gives for refusing a skin; empty: it takes any.
    QString attachRefusal;
    std::optional<Error> SkinH_AttachEx(const QString &path, const QString &password) override
    {
        calls << QStringLiteral("SkinH_AttachEx(%1,%2)").arg(path, password);
        if (attachRefusal.isEmpty())
            return std::nullopt;
        return skinFailure(attachRefusal);
    }
    std::optional<Error> SkinH_AdjustAero(int a, int b, int c, int d, int e, int f, int g, int h,
                                          int i) override
    {
        calls << QStringLiteral("SkinH_AdjustAero(%1,%2,%3,%4,%5,%6,%7,%8,%9)")
                     .arg(a)
                     .arg(b)
                     .arg(c)
                     .arg(d)
                     .arg(e)
                     .arg(f)
                     .arg(g)
                     .arg(h)
                     .arg(i);
        return skinFailure(QStringLiteral("absent"));
    }
    std::optional<Error> SkinHme() override
    {
        calls << QStringLiteral("SkinHme()");
        return skinFailure(QStringLiteral("absent"));
    }
};

} // namespace Inkwell::Testing
