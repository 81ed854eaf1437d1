#pragma once
// A temporary home for one test: HOME, XDG_CONFIG_HOME and XDG_DATA_HOME point into a
// fresh temporary directory for the object's lifetime, and are restored afterwards.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    QString path() const { return dir_.path(); }
    // path() + "/" + relative
    QString file(const QString &relative) const;
    QString configDir() const;   // <home>/.config, created
    QString dataDir() const;     // <home>/.local/share, created

private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldConfig_, oldData_;
    bool hadHome_, hadConfig_, hadData_;
};

// Reads a whole file; empty when it does not exist.
QByteArray readFile(const QString &path);
// Writes a whole file, creating parent directories; false on failure.
bool writeFile(const QString &path, const QByteArray &data);

} // namespace testsupport
