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

namespace {
constexpr qint64 kBlock = 256 * 1024;
}

BlockReader::BlockReader(int fd) : fd_(fd)
{
    struct stat st;
    size_ = ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

bool BlockReader::seek(qint64 pos)
{
    if (pos < 0 || pos > size_)
        return false;
    pos_ = pos;
    return true;
}

qint64 BlockReader::read(char *out, qint64 n)
{
    qint64 done = 0;
    while (done < n && pos_ < size_) {
        if (pos_ < windowStart_ || pos_ >= windowStart_ + window_.size()) {
            if (!fill())
                break;
        }
        const qint64 at = pos_ - windowStart_;
        const qint64 take = std::min(n - done, qint64(window_.size()) - at);
        memcpy(out + done, window_.constData() + at, size_t(take));
        done += take;
        pos_ += take;
    }
    return done;
}

QByteArray BlockReader::read(qint64 n)
{
    QByteArray out(std::max<qint64>(0, std::min(n, size_ - pos_)), Qt::Uninitialized);
    out.resize(read(out.data(), out.size()));
    return out;
}

QByteArray BlockReader::readExactly(qint64 offset, qint64 n)
{
    if (!seek(offset))
        throw platform::Error(QStringLiteral("the file is truncated"));
    QByteArray out = read(n);
    if (out.size() != n)
        throw platform::Error(QStringLiteral("the file is truncated"));
    return out;
}

bool BlockReader::fill()
{
    window_.resize(kBlock);
    ssize_t got;
    do
        got = ::pread(fd_, window_.data(), size_t(kBlock), off_t(pos_));
    while (got < 0 && errno == EINTR);
    window_.resize(got > 0 ? got : 0);
    windowStart_ = pos_;
    if (got < 0)
        throw platform::Error(systemReason());
    return got > 0;
}

void BlockWriter::append(const char *data, qint64 n)
{
    buffer_.append(data, n);
    if (buffer_.size() >= kBlock)
        flush();
}

void BlockWriter::flush()
{
    writeAt(fd_, pos_, buffer_);
    pos_ += buffer_.size();
    buffer_.clear();
}

void BlockWriter::moveTo(qint64 pos)
{
    flush();
    pos_ = pos;
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
