#pragma once
// Tests whose subject must die mid-way (killed at a step, or from outside) run that
// part in a second copy of the test program.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace testsupport {

// Starts this test program again in `child` to run only the disabled test `test`
// ("Suite.DISABLED_Run"), with `extra` added to its environment and the offscreen
// platform. The channel mode is the caller's, set before the call.
void startChildTest(QProcess &child, const QString &test, const QProcessEnvironment &extra);

} // namespace testsupport
