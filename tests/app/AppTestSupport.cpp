#include "AppTestSupport.h"

#include "common/Settings.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace apptest {

void makeTree(const QString &appPath, bool withInbox)
{
    QDir().mkpath(appPath + "/inbox");
    QDir().mkpath(appPath + "/outbox");
    if (withInbox)
        testsupport::writeFile(appPath + "/inbox/INBOX.hdr", "placeholder archive");
}

Installation::Installation(bool complete) : appPath(dataDir() + "/quorvel")
{
    makeTree(appPath, complete);
    writeSettings();
}

void Installation::writeSettings() const
{
    WriteIniString("quorvel", "Application Path", appPath);
    WriteIniString("PERSONAL", "UserName", "Ann Smith");
    WriteIniString("PERSONAL", "EmailAddress", "ann@example.test");
    WriteIniString("PERSONAL", "MailServer", "smtp.example.test");
}

QList<IniEntry> iniEntries(const QString &path)
{
    QList<IniEntry> entries;
    QString section;
    const QString text = QString::fromUtf8(testsupport::readFile(path));
    for (QString line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('[')) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        entries.append({section, line.left(eq), line.mid(eq + 1)});
    }
    return entries;
}

void closeNextModal()
{
    QTimer::singleShot(0, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->accept();
        else
            ADD_FAILURE() << "no modal dialog was open";
    });
}

} // namespace apptest
