#include "common/ZipArchive.h"

#include "common/ZipReader.h"
#include "common/ZipWriter.h"
#include "common/ZipJournal.h"
#include "platform/CaseResolver.h"
#include "platform/Error.h"
#include "platform/Prompts.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Marks a running operation: clears its busy flag and, since the operation ran,
// empties the entries of FSpecArgs, however it ends.
class Running {
public:
    Running(bool &busy, QStringList &names) : busy_(busy), names_(names) { busy_ = true; }
    ~Running()
    {
        names_.clear();
        busy_ = false;
    }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;

private:
    bool &busy_;
    QStringList &names_;
};

} // namespace

TZipArchive::TZipArchive(QObject *parent) : QObject(parent) {}

QString TZipArchive::archivePath() const
{
    return zipFilename_.isEmpty() ? QString() : platform::resolveCase(zipFilename_);
}

void TZipArchive::progress(const QString &name, qint64 size)
{
    if (OnProgress)
        OnProgress(this, name, size);
}

void TZipArchive::setZipFilename(const QString &path)
{
    zipFilename_ = path;
    ReadMemberList();
}

void TZipArchive::ReadMemberList()
{
    memberList_.clear();
    struct Notify {
        TZipArchive *self;
        ~Notify()
        {
            if (self->OnDirUpdate)
                self->OnDirUpdate(self);
        }
    } notify{this};

    const QString path = archivePath();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;
    zipjournal::recoverArchive(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Error("Cannot read zip file " + path + ": " + file.errorString());
    const qint64 start =
        QFileInfo(path).suffix().toUpper() == QLatin1String("EXE") ? zipscan::kExeStart : 0;
    zipscan::scanMembers(file.handle(), start, memberList_);
}

void TZipArchive::Add()
{
    QList<zipwrite::MemberSource> members;
    for (const QString &name : FSpecArgs)
        members.append(zipwrite::MemberSource::file(name));
    addMembers(members, FSpecArgs);
}

void TZipArchive::AddMembers(const QList<zipwrite::MemberSource> &members)
{
    QStringList none;
    addMembers(members, none);
}

void TZipArchive::addMembers(QList<zipwrite::MemberSource> members, QStringList &names)
{
    successCount_ = 0;
    if (members.isEmpty()) {
        platform::prompts().plain(QStringLiteral("Error - no files to zip"));
        return;
    }
    if (zipFilename_.isEmpty()) {
        platform::prompts().plain(QStringLiteral("Error - no zip file specified"));
        return;
    }
    if (addBusy_)
        return;
    {
        for (zipwrite::MemberSource &m : members) {
            if (!m.inMemory)
                m.path = platform::resolveCase(m.path);
        }
        Running running(addBusy_, names);
        successCount_ = zipwrite::addMembers(archivePath(), members, addCompLevel_,
                                             [this](const QString &n, qint64 s) { progress(n, s); });
    }
    if (successCount_ > 0)
        ReadMemberList();
}

void TZipArchive::Delete()
{
    successCount_ = 0;
    if (FSpecArgs.isEmpty()) {
        platform::prompts().plain(QStringLiteral("Error - no files selected for deletion"));
        return;
    }
    const QString path = archivePath();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        platform::prompts().plain(QStringLiteral("Error - no zip file specified"));
        return;
    }
    if (addBusy_)
        return;
    {
        const QStringList names = FSpecArgs;
        Running running(addBusy_, FSpecArgs);
        successCount_ = zipwrite::deleteMembers(path, names);
    }
    if (successCount_ > 0)
        ReadMemberList();
}

void TZipArchive::Extract()
{
    successCount_ = 0;
    const QString path = archivePath();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        platform::prompts().plain(QStringLiteral("Error - no zip file specified"));
        return;
    }
    if (extractBusy_)
        return;
    // Members only ever go into the directory meant for them, never into whatever
    // directory happens to be current.
    const QString dir = extrBaseDir_.isEmpty() ? QString() : platform::resolveCase(extrBaseDir_);
    if (dir.isEmpty()) {
        platform::prompts().plain(QStringLiteral("Error - no extract directory specified"));
        return;
    }
    if (!QFileInfo(dir).isDir()) {
        platform::prompts().plain("Error - extract directory " + extrBaseDir_ + " does not exist");
        return;
    }
    const QStringList names = FSpecArgs;
    Running running(extractBusy_, FSpecArgs);
    successCount_ = zipread::extractMembers(path, names, dir,
                                            [this](const QString &n, qint64 s) { progress(n, s); });
}
