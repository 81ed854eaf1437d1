#include "platform/Paths.h"

#include "platform/CaseResolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

QString envPath(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    // The XDG rules ignore relative paths.
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString home()
{
    const QString h = qEnvironmentVariable("HOME");
    return h.isEmpty() ? QDir::homePath() : QDir::cleanPath(h);
}

} // namespace

QString configDir()
{
    const QString xdg = envPath("XDG_CONFIG_HOME");
    return xdg.isEmpty() ? home() + "/.config" : xdg;
}

QString dataDir()
{
    const QString xdg = envPath("XDG_DATA_HOME");
    if (!xdg.isEmpty())
        return xdg;
    const QString h = home();
    const QString local = h + "/.local/share";
    // Without ~/.local/share, and unable to make it, fall back to the home directory.
    if (QFileInfo(local).isDir() || QDir().mkpath(local))
        return local;
    return h;
}

QString settingsFilePath() { return resolveCase(configDir() + "/quorvel.ini"); }

QString defaultAppPath() { return dataDir() + "/quorvel"; }

QString applicationsMenuDir() { return dataDir() + "/applications/quorvel"; }

QString joinPath(const QString &dir, const QString &name)
{
    if (dir.isEmpty())
        return name;
    if (dir.endsWith('/'))
        return dir + name;
    return dir + '/' + name;
}

QString workDir(const QString &dir)
{
    const QString path = joinPath(dir, QStringLiteral(".quorvel-tmp")) + '/';
    if (!QFileInfo(path).isDir()) {
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                        | QFileDevice::ExeOwner);
    }
    return path;
}

} // namespace platform
