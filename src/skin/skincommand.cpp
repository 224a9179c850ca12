#include "skin/skincommand.h"

#include "controls/commondialog.h"
#include "core/atomicfile.h"
#include "core/systemerror.h"

#include <QDir>
#include <QFile>

namespace Inkwell {

namespace {

struct Previous {
    bool existed = false;
    QByteArray bytes;
};

// The old file stays whole when anything fails; the reason comes back.
QString writeWhole(const QString &path, const QByteArray &bytes)
{
    const auto error = writeFileAtomically(path, bytes);
    return error ? error->why : QString();
}

} // namespace

SkinCommand::SkinCommand(CommonDialog &skinDialog, SkinEngine &engine,
                         const SkinLocations &locations)
    : m_dialog(skinDialog), m_engine(engine), m_locations(locations)
{
}

void SkinCommand::presetDialog(CommonDialog &dialog)
{
    dialog.DialogTitle = QStringLiteral("更换皮肤");
    dialog.Filter = QStringLiteral("SHE皮肤文件(*.she)|*.she");
    dialog.FileName = preset;
}

Result<bool> SkinCommand::run()
{
    if (m_dialog.ShowOpen() == cdlCancel)
        return false;
    const std::optional<Error> refused = apply(m_dialog.FileName);
    m_dialog.FileName = preset;
    if (refused)
        return *refused;
    return true;
}

std::optional<Error> SkinCommand::apply(const QString &source)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return skinFailure(
            QStringLiteral("无法读取 %1（%2）")
                .arg(QDir::toNativeSeparators(source), reasonForFailed(in, FileAccess::Read)));
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return skinFailure(
            QStringLiteral("无法读取 %1（%2）")
                .arg(QDir::toNativeSeparators(source), reasonForFailed(in, FileAccess::Read)));
    in.close();

    // Beside the program when its directory takes the file, else per user.
    QString destination = m_locations.programSkin();
    Previous previous;
    auto remember = [&previous](const QString &path) {
        QFile old(path);
        previous = {old.open(QIODevice::ReadOnly), {}};
        if (previous.existed)
            previous.bytes = old.readAll();
    };
    remember(destination);
    QString why = writeWhole(destination, bytes);
    if (!why.isEmpty()) {
        destination = m_locations.userSkin();
        QDir().mkpath(m_locations.userDirectory());
        remember(destination);
        const QString userWhy = writeWhole(destination, bytes);
        if (!userWhy.isEmpty())
            return skinFailure(QStringLiteral("无法写入 %1（%2）")
                                   .arg(QDir::toNativeSeparators(destination), userWhy));
    }

    if (std::optional<Error> refused = m_engine.SkinH_AttachEx(destination, QString())) {
        // The refused skin must not be what the next start-up applies.
        if (previous.existed)
            writeWhole(destination, previous.bytes);
        else
            QFile::remove(destination);
        return refused;
    }
    // Start-up prefers the user's copy: an older one there would hide this one.
    // (An installed program keeps its skin in the user's folder only: then the
    // two are one file, which must stay.)
    if (destination == m_locations.programSkin() && m_locations.programSkin() != m_locations.userSkin()
        && QFile::exists(m_locations.userSkin()))
        QFile::remove(m_locations.userSkin());
    m_lastDestination = destination;
    return std::nullopt;
}

} // namespace Inkwell
