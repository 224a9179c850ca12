// Runs every command test class in one process. Names of test functions on
// the command line pick the classes that have them.
#include "commands/commandtests.h"

#include <QApplication>
#include <QMetaMethod>

using namespace Inkwell::Testing;

namespace {

bool hasTestFunction(const QObject &test, const QString &name)
{
    const QMetaObject *meta = test.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (QString::fromLatin1(meta->method(i).name()) == name)
            return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList valued{"-o",          "-maxwarnings", "-eventdelay", "-keydelay",
                             "-mousedelay", "-seed",        "-repeat",     "-platform"};
    int failures = 0;
    for (const TestFactory &factory : commandTests()) {
        std::unique_ptr<QObject> test = factory();
        QStringList args{QString::fromLocal8Bit(argv[0])};
        bool named = false, picked = false;
        for (int i = 1; i < argc; ++i) {
            const QString arg = QString::fromLocal8Bit(argv[i]);
            if (valued.contains(arg) && i + 1 < argc) {
                args << arg << QString::fromLocal8Bit(argv[++i]);
            } else if (arg.startsWith(u'-')) {
                args << arg;
            } else {
                named = true;
                if (hasTestFunction(*test, arg.section(u':', 0, 0))) {
                    picked = true;
                    args << arg;
                }
            }
        }
        if (named && !picked)
            continue;
        failures += QTest::qExec(test.get(), args);
    }
    return failures == 0 ? 0 : 1;
}
