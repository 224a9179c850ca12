#include "shell/xdgdesktopassociation.h"

#include "core/systemerror.h"
#include "shell/trueicon.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace Inkwell {

namespace {

const QString kMimeType = QStringLiteral("text/plain");
const QString kSection = QStringLiteral("[Default Applications]");
const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QString homeOr(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : QDir::homePath() + fallback;
}

bool isSectionHeader(const QString &line)
{
    const QString t = line.trimmed();
    return t.startsWith(u'[') && t.endsWith(u']');
}

} // namespace

XdgDesktopAssociation::XdgDesktopAssociation(const QString &executablePath, const QString &dataHome,
                                             const QString &configHome)
    : m_executablePath(executablePath), m_dataHome(dataHome), m_configHome(configHome)
{
}

XdgDesktopAssociation XdgDesktopAssociation::forUser(const QString &executablePath)
{
    return XdgDesktopAssociation(executablePath,
                                 homeOr("XDG_DATA_HOME", QStringLiteral("/.local/share")),
                                 homeOr("XDG_CONFIG_HOME", QStringLiteral("/.config")));
}

QString XdgDesktopAssociation::desktopFilePath() const
{
    return m_dataHome + QStringLiteral("/applications/") + desktopId;
}

QString XdgDesktopAssociation::mimeAppsPath() const
{
    return m_configHome + QStringLiteral("/mimeapps.list");
}

QString XdgDesktopAssociation::iconPath(int size) const
{
    return m_dataHome + QStringLiteral("/icons/hicolor/%1x%1/apps/inkwell.png").arg(size);
}

QString XdgDesktopAssociation::rememberedPath() const
{
    return m_configHome + QStringLiteral("/inkwell/previous-text-plain-default");
}

QString XdgDesktopAssociation::execValue(const QString &executablePath)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : executablePath)
        needsQuotes |= reserved.contains(c);
    QString arg;
    for (const QChar c : executablePath) {
        if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            arg += u'\\';
        arg += c;
        if (c == u'%')
            arg += u'%'; // a literal percent sign is doubled in Exec
    }
    if (needsQuotes)
        arg = u'"' + arg + u'"';
    // The value is itself a string of the format, where a backslash is "\\".
    arg.replace(u'\\', QStringLiteral("\\\\"));
    return arg + QStringLiteral(" %f");
}

QString XdgDesktopAssociation::withDefault(const QString &text, const QString &mimeType,
                                           const std::optional<QString> &value,
                                           std::optional<QString> *previous)
{
    const bool crlf = text.contains(QStringLiteral("\r\n"));
    QStringList lines = text.isEmpty() ? QStringList() : text.split(u'\n');
    if (crlf)
        for (QString &line : lines)
            if (line.endsWith(u'\r'))
                line.chop(1);
    const bool endedWithNewline = !lines.isEmpty() && lines.last().isEmpty();
    if (endedWithNewline)
        lines.removeLast();

    if (previous)
        previous->reset();
    const QString newLine = value ? mimeType + u'=' + *value : QString();
    qsizetype section = -1;
    qsizetype lastInSection = -1;
    bool done = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isSectionHeader(lines[i])) {
            if (section >= 0 && !done)
                break; // past our section without finding the line
            section = lines[i].trimmed() == kSection ? i : -1;
            lastInSection = section;
            continue;
        }
        if (section < 0)
            continue;
        if (!lines[i].trimmed().isEmpty())
            lastInSection = i;
        const qsizetype eq = lines[i].indexOf(u'=');
        if (eq > 0 && lines[i].left(eq).trimmed() == mimeType && !done) {
            if (previous)
                *previous = lines[i].mid(eq + 1).trimmed();
            if (value)
                lines[i] = newLine;
            else
                lines.removeAt(i--);
            done = true;
        }
    }
    bool appendedAtEnd = false;
    if (!done && value) {
        if (lastInSection >= 0) {
            lines.insert(lastInSection + 1, newLine);
        } else {
            appendedAtEnd = true;
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
                lines << QString();
            lines << kSection << newLine;
        }
    }
    const QString eol = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString out = lines.join(eol);
    if (!lines.isEmpty() && (endedWithNewline || appendedAtEnd))
        out += eol;
    return out;
}

std::optional<Error> XdgDesktopAssociation::writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return Error{QStringLiteral("无法创建文件夹 %1").arg(QFileInfo(path).absolutePath()), {}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error{QStringLiteral("无法写入 %1").arg(path),
                     reasonForFailed(file, FileAccess::Write)};
    if (file.write(bytes) != bytes.size()) {
        const QString why = reasonForFailed(file, FileAccess::Write);
        file.cancelWriting();
        return Error{QStringLiteral("无法写入 %1").arg(path), why};
    }
    if (!file.commit())
        return Error{QStringLiteral("无法保存 %1").arg(path), {}};
    return std::nullopt;
}

std::optional<Error> XdgDesktopAssociation::install()
{
    for (const int size : kIconSizes) {
        QFile icon(programIconFile(size));
        if (!icon.open(QIODevice::ReadOnly))
            return Error{QStringLiteral("无法读取 %1").arg(icon.fileName()),
                         reasonForFailed(icon, FileAccess::Read)};
        if (auto error = writeFile(iconPath(size), icon.readAll()))
            return error;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Inkwell\n"
                                         "GenericName=Text Editor\n"
                                         "GenericName[zh_CN]=文本编辑器\n"
                                         "Comment=Edit plain text, RTF and encrypted text files\n"
                                         "Comment[zh_CN]=编辑纯文本、RTF 和加密文本文件\n"
                                         "Exec=%1\n"
                                         "Icon=%2\n"
                                         "Terminal=false\n"
                                         "MimeType=text/plain;\n"
                                         "Categories=Utility;TextEditor;\n")
                              .arg(execValue(m_executablePath), iconPath(256));
    if (auto error = writeFile(desktopFilePath(), entry.toUtf8()))
        return error;

    QFile list(mimeAppsPath());
    QString text;
    if (list.exists()) {
        if (!list.open(QIODevice::ReadOnly))
            return Error{QStringLiteral("无法读取 %1").arg(mimeAppsPath()),
                         reasonForFailed(list, FileAccess::Read)};
        text = QString::fromUtf8(list.readAll());
        list.close();
    }
    std::optional<QString> previous;
    const QString updated = withDefault(text, kMimeType, desktopId + u';', &previous);
    // Registering twice must not make Inkwell its own predecessor.
    const bool ours = previous && previous->split(u';', Qt::SkipEmptyParts).value(0) == desktopId;
    if (!ours) {
        if (previous) {
            if (auto error = writeFile(rememberedPath(), previous->toUtf8()))
                return error;
        } else if (QFile::exists(rememberedPath()) && !QFile::remove(rememberedPath())) {
            return Error{QStringLiteral("无法删除 %1").arg(rememberedPath()), {}};
        }
    }
    return writeFile(mimeAppsPath(), updated.toUtf8());
}

std::optional<Error> XdgDesktopAssociation::restore()
{
    QFile list(mimeAppsPath());
    if (!list.open(QIODevice::ReadOnly))
        return std::nullopt; // no list of the user's own: nothing of ours to undo
    const QString text = QString::fromUtf8(list.readAll());
    list.close();

    std::optional<QString> current;
    withDefault(text, kMimeType, std::nullopt, &current);
    if (!current || current->split(u';', Qt::SkipEmptyParts).value(0) != desktopId)
        return std::nullopt; // the user chose another handler since: leave it

    std::optional<QString> remembered;
    QFile saved(rememberedPath());
    if (saved.open(QIODevice::ReadOnly))
        remembered = QString::fromUtf8(saved.readAll()).trimmed();
    saved.close();
    if (auto error = writeFile(mimeAppsPath(), withDefault(text, kMimeType, remembered).toUtf8()))
        return error;
    QFile::remove(rememberedPath());
    return std::nullopt;
}

std::unique_ptr<DesktopAssociation> makeDesktopAssociation(const QString &executablePath)
{
    return std::make_unique<XdgDesktopAssociation>(XdgDesktopAssociation::forUser(executablePath));
}

} // namespace Inkwell
