#include "support/ChildTest.h"

#include <QCoreApplication>

namespace testsupport {

void startChildTest(QProcess &child, const QString &test, const QProcessEnvironment &extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(extra);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=" + test, QStringLiteral("--gtest_also_run_disabled_tests")});
}

} // namespace testsupport
