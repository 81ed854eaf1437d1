#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

TempHome::TempHome()
    : oldHome_(qgetenv("HOME")), oldConfig_(qgetenv("XDG_CONFIG_HOME")),
      oldData_(qgetenv("XDG_DATA_HOME")), hadHome_(qEnvironmentVariableIsSet("HOME")),
      hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
      hadData_(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
{
    QDir().mkpath(configDir());
    QDir().mkpath(dataDir());
    qputenv("HOME", dir_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", configDir().toUtf8());
    qputenv("XDG_DATA_HOME", dataDir().toUtf8());
}

TempHome::~TempHome()
{
    auto restore = [](const char *name, bool had, const QByteArray &value) {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    };
    restore("HOME", hadHome_, oldHome_);
    restore("XDG_CONFIG_HOME", hadConfig_, oldConfig_);
    restore("XDG_DATA_HOME", hadData_, oldData_);
}

QString TempHome::file(const QString &relative) const { return dir_.path() + "/" + relative; }
QString TempHome::configDir() const { return dir_.path() + "/.config"; }
QString TempHome::dataDir() const { return dir_.path() + "/.local/share"; }

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size();
}

} // namespace testsupport
