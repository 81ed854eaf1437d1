#pragma once
// The real Dovecot and Postfix that scripts/test starts on loopback and describes in
// QUORVEL_TEST_* variables (scripts/mailservers/start). Tests that use them are
// skipped without the variables and fail when the servers do not answer.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace testsupport {

// A QUORVEL_TEST_* variable ("" when unset).
QString serverEnv(const char *name);

// ctest runs tests in processes of their own that share the servers: a test holds
// the lock of its mailboxes (a file in the servers' directory) while it runs.
class ServerLock {
public:
    ServerLock() = default;
    ~ServerLock();
    ServerLock(const ServerLock &) = delete;
    ServerLock &operator=(const ServerLock &) = delete;
    // Blocks until the lock `name` is held; false when its file cannot be opened.
    bool acquire(const QString &name);

private:
    int fd_ = -1;
};

// For a fixture's SetUp: skips the test without the variables, fails it when either
// server does not answer, and takes `lock`. The caller returns when the test was
// skipped or failed: `if (IsSkipped() || HasFatalFailure()) return;`.
void RequireRealServers(ServerLock &lock, const QString &lockName);

QString mailAddress(const QString &user);
QString maildir(const QString &user);
// The message files of a user's Maildir (new and cur), in name order.
QStringList messageFiles(const QString &user);
void clearMailbox(const QString &user);
// Polls until the mailbox holds at least `count` messages (at most 15 s).
QStringList waitForMessages(const QString &user, int count);
// Puts a message straight into the user's Maildir, as a delivery would; false when it
// cannot be written.
bool deliverToMaildir(const QString &user, const QByteArray &message);

} // namespace testsupport
