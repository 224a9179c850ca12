#include "shell/frmmain.h"

#include "core/messagehost.h"
#include "platform/twips.h"
#include "shell/desktopassociation.h"
#include "shell/registry.h"

#include <QLabel>
#include <QPushButton>

namespace Inkwell {

FrmMain::FrmMain(Registry &registry, MessageHost &messages, const QString &programDirectory,
                 SystemDirectory &systemDirectory, DesktopAssociation *desktop, QWidget *parent)
    : QDialog(parent), Label1(new QLabel(this)), Command1(new QPushButton(this)),
      Command2(new QPushButton(this)), m_registry(registry), m_messages(messages),
      m_programDirectory(programDirectory), m_systemDirectory(systemDirectory), m_desktop(desktop)
{
    setObjectName(QStringLiteral("FrmMain"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));
    setWindowTitle(QStringLiteral("注册txt关联"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    auto place = [&](QWidget *w, int left, int top, int width, int height) {
        w->setGeometry(twipsToPixels(left, dpiX), twipsToPixels(top, dpiY),
                       twipsToPixels(width, dpiX), twipsToPixels(height, dpiY));
    };
    setFixedSize(twipsToPixels(3015, dpiX), twipsToPixels(2925, dpiY));

    Label1->setText(QStringLiteral(
        "注册/反注册txt关联可能会导致杀毒软件等软件的阻止，请在注册/反注册前暂时退出杀毒软件"
        "或者在提示警报是允许程序的操作。"));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(Label1, 240, 240, 2535, 2055);

    Command1->setText(QStringLiteral("注册"));
    place(Command1, 240, 2400, 1215, 375);
    Command2->setText(QStringLiteral("反注册"));
    place(Command2, 1680, 2400, 1215, 375);
    // Enter presses the button that has the focus, as Space does; neither is
    // a fixed default, so Enter never presses a button the user did not reach.
    Command1->setAutoDefault(true);
    Command2->setAutoDefault(true);
    setTabOrder(Command1, Command2);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &FrmMain::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FrmMain::Command2_Click);
}

void FrmMain::tell(MessageHost &messages, AssociationReport report)
{
    switch (report) {
    case AssociationReport::TypeCreated:
        messages.inform(QStringLiteral("创建自定义类型后缀名成功。"), QStringLiteral("系统提示"),
                        MessageIcon::Information);
        break;
    case AssociationReport::TypeNotCreated:
        messages.inform(QStringLiteral("创建自定义类型后缀名失败。"), QStringLiteral("系统提示"),
                        MessageIcon::Exclamation);
        break;
    case AssociationReport::CommandChanged:
        messages.inform(QStringLiteral("改变文件打开方式成功！"), QStringLiteral("请注意"),
                        MessageIcon::Information);
        break;
    case AssociationReport::CommandNotChanged:
        messages.inform(QStringLiteral("改变文件打开方式失败！"), QStringLiteral("请注意"),
                        MessageIcon::Exclamation);
        break;
    case AssociationReport::IconChanged:
        messages.inform(QStringLiteral("改变图标成功"), QStringLiteral("提示"),
                        MessageIcon::Information);
        break;
    case AssociationReport::IconNotChanged:
        messages.inform(QStringLiteral("改变图标失败"), QStringLiteral("提示"),
                        MessageIcon::Exclamation);
        break;
    }
}

void FrmMain::tellDesktopFailure(const std::optional<Error> &failure)
{
    if (!failure)
        return;
    m_messages.inform(failure->why.isEmpty() ? failure->what
                                             : failure->what + QStringLiteral("：") + failure->why,
                      QStringLiteral("系统提示"), MessageIcon::Exclamation);
}

void FrmMain::runProcedure(const AssociationValues &values)
{
    AssociationProcedure procedure(m_registry,
                                   [this](AssociationReport report) { tell(m_messages, report); });
    procedure.run(values);
}

void FrmMain::Command1_Click()
{
    runProcedure(AssociationProcedure::forProgram(m_programDirectory.toStdU16String()));
    // The desktop's own record of the handler speaks only when it failed:
    // the registry's three reports are what the user is told otherwise.
    if (m_desktop)
        tellDesktopFailure(m_desktop->install());
    accept();
}

void FrmMain::Command2_Click()
{
    runProcedure(AssociationProcedure::forNotepad(m_systemDirectory));
    if (m_desktop)
        tellDesktopFailure(m_desktop->restore());
    accept();
}

} // namespace Inkwell
