// The modal dialog "注册txt关联": Command1 makes this program the handler of
// .txt files, Command2 gives them back to Notepad. Both run the same
// two-phase registry procedure with their own values, report each phase
// through the MessageHost and close the dialog.
#pragma once

#include "core/error.h"
#include "shell/associationprocedure.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;

namespace Inkwell {

class DesktopAssociation;
class MessageHost;
class Registry;
class SystemDirectory;

class FrmMain : public QDialog {
    Q_OBJECT
public:
    // programDirectory as the system reports it, with native separators.
    // desktop may be null where the registry is all there is to change.
    FrmMain(Registry &registry, MessageHost &messages, const QString &programDirectory,
            SystemDirectory &systemDirectory, DesktopAssociation *desktop = nullptr,
            QWidget *parent = nullptr);

    QLabel *Label1;
    QPushButton *Command1;
    QPushButton *Command2;

    // The message for each report: text, title and icon as the user sees them.
    static void tell(MessageHost &messages, AssociationReport report);

private:
    void Command1_Click();
    void Command2_Click();
    void tellDesktopFailure(const std::optional<Error> &failure);
    void runProcedure(const AssociationValues &values);

    Registry &m_registry;
    MessageHost &m_messages;
    QString m_programDirectory;
    SystemDirectory &m_systemDirectory;
    DesktopAssociation *m_desktop;
};

} // namespace Inkwell
