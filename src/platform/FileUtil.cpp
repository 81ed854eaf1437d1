#include "platform/FileUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool writeFileAtomically(const QString &path, const QByteArray &data, int mode, bool sync)
{
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QString temp = dir + "/." + info.fileName() + ".tmp-"
        + QString::number(QRandomGenerator::global()->generate(), 36);
    const QByteArray tempName = QFile::encodeName(temp);

    // Without a mode of its own, the new file keeps the permissions of the old one.
    if (!mode) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            mode = int(st.st_mode & 07777);
    }
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          mode ? mode : 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    qsizetype done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno != EINTR)
                ok = false;
        } else {
            done += n;
        }
    }
    // The umask may have narrowed the mode; a settings file must be exactly 0600.
    if (ok && mode)
        ok = ::fchmod(fd, mode_t(mode)) == 0;
    if (ok && sync)
        ok = ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(tempName.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        ::unlink(tempName.constData());
        return false;
    }
    if (sync)
        syncPath(dir);
    return true;
}

} // namespace platform
