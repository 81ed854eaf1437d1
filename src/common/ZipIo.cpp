#include "common/ZipIo.h"

#include "platform/Error.h"
#include "platform/FileUtil.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zipio {

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

bool Fd::close()
{
    if (fd_ < 0)
        return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

Fd openFile(const QString &path, int flags, int mode)
{
    return Fd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode));
}

QByteArray readAt(int fd, qint64 offset, qint64 size)
{
    QByteArray buf(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buf.data() + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw platform::Error(systemReason());
        if (n == 0)
            throw platform::Error(QStringLiteral("the file is truncated"));
        done += n;
    }
    return buf;
}

void writeAt(int fd, qint64 offset, const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw platform::Error(n < 0 ? systemReason() : QStringLiteral("nothing was written"));
        done += n;
    }
}

void truncateTo(int fd, qint64 size)
{
    if (::ftruncate(fd, off_t(size)) != 0)
        throw platform::Error(systemReason());
}

void syncFd(int fd)
{
    if (::fsync(fd) != 0)
        throw platform::Error(systemReason());
}

bool syncDirectory(const QString &dir)
{
    return platform::syncPath(dir);
}

unsigned currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return unsigned(mask);
}

unsigned defaultFileMode()
{
    return 0666u & ~currentUmask();
}

} // namespace zipio
