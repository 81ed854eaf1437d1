#pragma once
// TZipArchive: the one component through which both programs add, delete and
// extract archive members, and which keeps the member list of its archive.
//
// Messages of its checks go to platform::prompts().plain(); failures it cannot
// handle (a member list that breaks off, a file that cannot be added, an archive
// that cannot be read or changed) are raised as platform::Error. The zip work is
// done by our own writer (ZipWriter.h) and by libzip for extraction (ZipReader.h).

#include "common/ZipScan.h"
#include "common/ZipWriter.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class TZipArchive : public QObject {
    Q_OBJECT

public:
    explicit TZipArchive(QObject *parent = nullptr);

    // Path of the archive; setting it reads the member list at once (and raises
    // what that read raises).
    const QString &ZipFilename() const { return zipFilename_; }
    void setZipFilename(const QString &path);

    // Directory that receives extracted members; it must exist.
    const QString &ExtrBaseDir() const { return extrBaseDir_; }
    void setExtrBaseDir(const QString &dir) { extrBaseDir_ = dir; }

    // Compression level for adding, 0 (stored) to 9.
    int AddCompLevel() const { return addCompLevel_; }
    void setAddCompLevel(int level) { addCompLevel_ = qBound(0, level, 9); }

    // Paths of files to add, or member names to extract or delete. Emptied by an
    // operation that ran; left as it was by one that a check refused.
    QStringList FSpecArgs;

    // The members of the archive named by ZipFilename, in file order.
    const QList<ZipDirEntry> &MemberList() const { return memberList_; }
    // Files added, deleted or extracted by the last operation.
    int SuccessCount() const { return successCount_; }
    bool AddBusy() const { return addBusy_; }
    bool ExtractBusy() const { return extractBusy_; }

    // Adds the files named in FSpecArgs, each under its bare name; a member of the
    // same name is replaced. Creates the archive when it does not exist.
    void Add();
    // As Add, for members given directly, some of them bytes held in memory; leaves
    // FSpecArgs alone.
    void AddMembers(const QList<zipwrite::MemberSource> &members);
    // Deletes the members named in FSpecArgs.
    void Delete();
    // Extracts the members named in FSpecArgs (every member when it is empty) into
    // ExtrBaseDir under their bare names, never replacing an existing file.
    void Extract();
    // Reads MemberList from the local headers of the archive.
    void ReadMemberList();

    // After each member-list read, also one that failed.
    std::function<void(TZipArchive *sender)> OnDirUpdate;
    // Before each file is added or extracted: its name and size.
    std::function<void(TZipArchive *sender, const QString &name, qint64 size)> OnProgress;

private:
    QString archivePath() const;
    // Add and AddMembers; `names` is emptied once the change ran.
    void addMembers(QList<zipwrite::MemberSource> members, QStringList &names);
    void progress(const QString &name, qint64 size);

    QString zipFilename_;
    QString extrBaseDir_;
    int addCompLevel_ = 9;
    QList<ZipDirEntry> memberList_;
    int successCount_ = 0;
    bool addBusy_ = false;
    bool extractBusy_ = false;
};
