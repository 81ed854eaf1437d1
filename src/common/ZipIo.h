#pragma once
// File-descriptor helpers shared by the archive writer, its journal and its reader.
// Failures throw platform::Error carrying the system's reason.

#include "platform/Error.h"

#include <QByteArray>
#include <QString>

namespace zipio {

// An error whose text is already the whole message for the user; lower-level
// failures carry only a reason, which the operation wraps into its own message.
class FinalError : public platform::Error {
public:
    using platform::Error::Error;
};

// Owns one open file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) {
            reset(other.fd_);
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1);
    // Closes and reports whether the close succeeded (write errors may surface here).
    bool close();

private:
    int fd_ = -1;
};

// The text of the current errno.
QString systemReason();

// Opens `path` with open(2) flags (O_CLOEXEC added); an invalid Fd on failure.
Fd openFile(const QString &path, int flags, int mode = 0666);

// Exactly `size` bytes at `offset`; throws when the file ends first.
QByteArray readAt(int fd, qint64 offset, qint64 size);
void writeAt(int fd, qint64 offset, const char *data, qint64 size);
inline void writeAt(int fd, qint64 offset, const QByteArray &data)
{
    writeAt(fd, offset, data.constData(), data.size());
}
void truncateTo(int fd, qint64 size);
void syncFd(int fd);
// fsync of a directory; false when it cannot be opened or synced.
bool syncDirectory(const QString &dir);

// A file read through one large window: small reads and forward seeks cost no
// system call while they stay inside it. Offers the QIODevice calls the member-list
// scan uses.
class BlockReader {
public:
    explicit BlockReader(int fd);
    qint64 size() const { return size_; }
    qint64 pos() const { return pos_; }
    bool seek(qint64 pos);
    bool getChar(char *c) { return read(c, 1) == 1; }
    qint64 read(char *out, qint64 n);
    QByteArray read(qint64 n);
    // Exactly `n` bytes at `offset`; throws when the file ends first.
    QByteArray readExactly(qint64 offset, qint64 n);

private:
    bool fill();

    int fd_;
    qint64 size_ = 0;
    qint64 pos_ = 0;
    qint64 windowStart_ = 0;
    QByteArray window_;
};

// Sequential output at a position of a file, gathered into large writes.
class BlockWriter {
public:
    BlockWriter(int fd, qint64 pos) : fd_(fd), pos_(pos) {}
    ~BlockWriter() = default;
    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;
    // Where the next byte goes.
    qint64 pos() const { return pos_ + buffer_.size(); }
    void append(const char *data, qint64 n);
    void append(const QByteArray &data) { append(data.constData(), data.size()); }
    // Writes what is gathered; after writing past it directly, moveTo() the new end.
    void flush();
    void moveTo(qint64 pos);

private:
    int fd_;
    qint64 pos_;
    QByteArray buffer_;
};

// The process's umask, and the mode a newly created file gets: 0666 less the umask.
unsigned currentUmask();
unsigned defaultFileMode();

} // namespace zipio
