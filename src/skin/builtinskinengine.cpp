#include "skin/builtinskinengine.h"

#include "core/systemerror.h"
#include "platform/codepage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Inkwell {

namespace {

constexpr qint64 kLargestSkin = 4 * 1024 * 1024;

// Style sheets nest blocks in braces; comments and quoted strings may hold
// anything. An open block, comment or string at the end means a cut-off file.
QString structureProblem(const QString &sheet)
{
    int depth = 0;
    for (qsizetype i = 0; i < sheet.size(); ++i) {
        const QChar c = sheet[i];
        if (c == u'/' && i + 1 < sheet.size() && sheet[i + 1] == u'*') {
            const qsizetype end = sheet.indexOf(QStringLiteral("*/"), i + 2);
            if (end < 0)
                return QStringLiteral("注释没有结束");
            i = end + 1;
        } else if (c == u'"' || c == u'\'') {
            qsizetype j = i + 1;
            while (j < sheet.size() && sheet[j] != c && sheet[j] != u'\n')
                j += sheet[j] == u'\\' ? 2 : 1;
            if (j >= sheet.size() || sheet[j] != c)
                return QStringLiteral("字符串没有结束");
            i = j;
        } else if (c == u'{') {
            ++depth;
        } else if (c == u'}') {
            if (--depth < 0)
                return QStringLiteral("多了一个“}”");
        }
    }
    return depth == 0 ? QString() : QStringLiteral("缺少“}”");
}

} // namespace

BuiltinSkinEngine::BuiltinSkinEngine(const QStringList &startupSkins) : m_startupSkins(startupSkins)
{
}

Result<QString> BuiltinSkinEngine::readStyleSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return skinFailure(
            QStringLiteral("无法读取皮肤文件 %1（%2）")
                .arg(QDir::toNativeSeparators(path), reasonForFailed(file, FileAccess::Read)));
    if (file.size() > kLargestSkin)
        return skinFailure(QStringLiteral("皮肤文件太大，不是样式表"));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return skinFailure(
            QStringLiteral("无法读取皮肤文件 %1（%2）")
                .arg(QDir::toNativeSeparators(path), reasonForFailed(file, FileAccess::Read)));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || u == 0x7F)
            return skinFailure(QStringLiteral("皮肤文件不是文本文件"));
    }
    const CodePage::Decoded text =
        CodePage::decode(std::string_view(bytes.constData(), size_t(bytes.size())), 65001);
    if (!text.clean)
        return skinFailure(QStringLiteral("皮肤文件不是 UTF-8 编码的文本"));
    const QString sheet = QString::fromStdU16String(text.text);
    if (const QString problem = structureProblem(sheet); !problem.isEmpty())
        return skinFailure(QStringLiteral("皮肤文件不是完整的样式表：%1").arg(problem));
    return sheet;
}

std::optional<Error> BuiltinSkinEngine::SkinH_Attach()
{
    for (const QString &candidate : m_startupSkins)
        if (QFileInfo(candidate).isFile())
            return SkinH_AttachEx(candidate, QString());
    return std::nullopt; // no skin chosen yet: the plain look is the skin
}

std::optional<Error> BuiltinSkinEngine::SkinH_AttachEx(const QString &path, const QString &password)
{
    Q_UNUSED(password) // style sheets are never locked
    const Result<QString> sheet = readStyleSheet(path);
    if (!sheet.ok())
        return sheet.error();
    qApp->setStyleSheet(sheet.value());
    m_attached = path;
    return std::nullopt;
}

// A style sheet carries its own colours and shapes, so the settings this
// call passes (and SkinHme's switch below) have nothing left to change; they
// are kept so that the binding can be checked.
std::optional<Error> BuiltinSkinEngine::SkinH_AdjustAero(int value1, int value2, int value3,
                                                         int value4, int value5, int value6,
                                                         int value7, int value8, int value9)
{
    m_aero = {value1, value2, value3, value4, value5, value6, value7, value8, value9};
    return std::nullopt;
}

std::optional<Error> BuiltinSkinEngine::SkinHme()
{
    ++m_hmeCalls;
    return std::nullopt;
}

} // namespace Inkwell
