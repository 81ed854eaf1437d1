#include "store/SharedState.h"

#include "common/Settings.h"
#include "platform/CaseResolver.h"
#include "platform/Paths.h"
#include "store/StorePaths.h"

#include <QDir>
#include <QFileInfo>

ControlCentreState::ControlCentreState()
{
    ZipArchive1.setAddCompLevel(9);
}

void ControlCentreState::SetAppPath(const QString &appPath)
{
    AppPath = appPath;
    InboxDir = platform::resolveCase(AppPath + "/inbox") + '/';
    OutboxDir = platform::resolveCase(AppPath + "/outbox") + '/';
}

void ControlCentreState::LoadEnvironment()
{
    SetAppPath(ReadIniString("quorvel", "Application Path", platform::defaultAppPath()));
    UserName = ReadIniString("PERSONAL", "UserName", "");
    EmailAddress = ReadIniString("PERSONAL", "EmailAddress", "");
    MailServer = ReadIniString("PERSONAL", "MailServer", "");
    SMTPport = ReadIniString("PERSONAL", "SMTPport", "smtp");
    KeepCopy = ReadIniString("PREFERENCE", "KeepCopy", "Yes");
    DefaultFont = ReadIniString("PREFERENCE", "DefaultFont", "Arial");
    KeepMailInServer = ReadIniString("PREFERENCE", "KeepMailInServer", "Yes");
}

QString ControlCentreState::InboxHeaderArchive() const
{
    return HeaderArchivePath(InboxDir, "INBOX");
}

bool ControlCentreState::InstallationComplete() const
{
    return QFileInfo(InboxHeaderArchive()).isFile();
}

QStringList ControlCentreState::FileListBox1(const QString &dir, const QString &mask)
{
    return QDir(dir).entryList({mask}, QDir::Files, QDir::Name | QDir::IgnoreCase);
}

bool RunState::begin(Kind kind)
{
    if (kind_ != None)
        return false;
    kind_ = kind;
    stop_ = false;
    emit activeChanged(true);
    return true;
}

void RunState::end()
{
    if (kind_ == None)
        return;
    kind_ = None;
    stop_ = false;
    emit activeChanged(false);
}

void RunState::requestStop()
{
    if (kind_ != None)
        stop_ = true;
}
