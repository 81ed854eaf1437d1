#pragma once
// A temporary home holding a quorvel installation tree and a settings file that
// points at it, for tests that create the real windows.

#include "support/TempHome.h"

#include <QList>
#include <QString>
#include <tuple>

class TfrmControlCentre;

namespace apptest {

class Installation : public testsupport::TempHome {
public:
    // With `complete`, the tree has the inbox header archive INBOX.hdr.
    explicit Installation(bool complete = true);

    QString appPath;
    QString inboxDir() const { return appPath + "/inbox/"; }
    QString outboxDir() const { return appPath + "/outbox/"; }
    QString settingsFile() const { return configDir() + "/quorvel.ini"; }
    QString queueFile() const { return outboxDir() + "quorvel.que"; }

    // Writes a settings file pointing at the tree, with an address and a server.
    void writeSettings() const;
};

// Makes `appPath` an installation tree: inbox and outbox directories and, with
// `withInbox`, an inbox header archive.
void makeTree(const QString &appPath, bool withInbox);

// The entries of a settings file in file order: (section, key, value).
using IniEntry = std::tuple<QString, QString, QString>;
QList<IniEntry> iniEntries(const QString &path);

// Accepts the modal dialog that is open when the event loop next turns.
void closeNextModal();

} // namespace apptest
