#include "support/RealServers.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool answers(const QString &host, const QString &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port.toUInt()));
    ::inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QString serverEnv(const char *name) { return qEnvironmentVariable(name); }

ServerLock::~ServerLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ServerLock::acquire(const QString &name)
{
    const QString path = serverEnv("QUORVEL_TEST_SERVERS_DIR") + "/" + name + ".lock";
    fd_ = ::open(QFile::encodeName(path).constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    return fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0;
}

void RequireRealServers(ServerLock &lock, const QString &lockName)
{
    if (serverEnv("QUORVEL_TEST_POP3_PORT").isEmpty())
        GTEST_SKIP() << "QUORVEL_TEST_POP3_PORT is not set: real servers run under scripts/test "
                        "(scripts/mailservers/start)";
    for (const char *kind : {"POP3", "SMTP"}) {
        const QString host = serverEnv(QByteArray("QUORVEL_TEST_") + kind + "_HOST");
        const QString port = serverEnv(QByteArray("QUORVEL_TEST_") + kind + "_PORT");
        ASSERT_TRUE(answers(host, port)) << kind << " server at " << host.toStdString() << ":"
                                         << port.toStdString() << " does not answer";
    }
    ASSERT_TRUE(lock.acquire(lockName)) << "cannot take the lock " << lockName.toStdString();
}

QString mailAddress(const QString &user) { return user + "@" + serverEnv("QUORVEL_TEST_DOMAIN"); }

QString maildir(const QString &user)
{
    return serverEnv("QUORVEL_TEST_MAILDIR_BASE") + "/" + user + "/Maildir";
}

QStringList messageFiles(const QString &user)
{
    QStringList files;
    for (const char *sub : {"new", "cur"}) {
        const QDir dir(maildir(user) + "/" + sub);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            files << dir.filePath(name);
    }
    return files;
}

void clearMailbox(const QString &user)
{
    for (const QString &file : messageFiles(user))
        QFile::remove(file);
}

QStringList waitForMessages(const QString &user, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (messageFiles(user).size() < count && clock.elapsed() < 15000)
        QTest::qWait(50);
    return messageFiles(user);
}

bool deliverToMaildir(const QString &user, const QByteArray &message)
{
    static int counter = 0;
    const QString name = QStringLiteral("%1.quorvel%2_%3.test")
                             .arg(QDateTime::currentSecsSinceEpoch())
                             .arg(::getpid())
                             .arg(++counter);
    const QString tmp = maildir(user) + "/tmp/" + name;
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
        return false;
    file.close();
    // Dovecot reads the mailbox as the mail user.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return QFile::rename(tmp, maildir(user) + "/new/" + name);
}

} // namespace testsupport
