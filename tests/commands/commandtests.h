// Shared by the command tests: the list of test classes main() runs, and
// small helpers to set a selection and to read printed PDFs back.
#pragma once

#include "support/testwindow.h"

#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <functional>
#include <vector>

namespace Inkwell::Testing {

using TestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::vector<TestFactory> &commandTests()
{
    static std::vector<TestFactory> tests;
    return tests;
}

template <typename T> bool registerCommandTest()
{
    commandTests().push_back([] { return std::make_unique<T>(); });
    return true;
}

// Positions of the pictures in the document.
inline QList<int> picturePositions(const RichTextBox &text)
{
    QList<int> out;
    const QString plain = text.Text();
    for (int i = 0; i < plain.size(); ++i)
        if (plain.at(i) == QChar::ObjectReplacementCharacter)
            out << i;
    return out;
}

// Selects from `anchor` to `position` as a drag of the mouse would.
inline void select(RichTextBox &text, int anchor, int position)
{
    QTextCursor c = text.textCursor();
    c.setPosition(anchor);
    c.setPosition(position, QTextCursor::KeepAnchor);
    text.setTextCursor(c);
}

// Runs a command-line tool; the output, or a null string when it is missing
// or fails.
inline QString toolOutput(const QString &program, const QStringList &arguments)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return QString();
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline bool havePoppler()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdfimages")).isEmpty();
}

} // namespace Inkwell::Testing
