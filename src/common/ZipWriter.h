#pragma once
// Adding and deleting archive members. A member with a new name is appended in
// place: written where the old central directory stood, followed by a new one, so
// the cost is that of the member and the directory, not of the archive. Deleting
// writes a shorter central directory in the same place and leaves the members' bytes
// as space that no header names; once that space passes a quarter of the file (and
// 256 KB), the deletion rewrites the archive without it instead. Replacing rewrites the archive.
// A rewrite goes into a hidden temporary file beside the archive, renamed over it.
// All of them leave the old or the new archive after a kill at any moment (see
// ZipJournal.h); flush them with zipjournal::syncArchives().
//
// Members are stored under the bare, sanitised file name, deflated at the given
// level (stored at level 0, when empty, or when deflating its first block saved
// almost nothing, as with data that is already compressed), with real sizes in every
// local header.
// An archive left without members stays as an empty, valid archive.

#include <QString>
#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

namespace zipwrite {

// A member's bytes made ready ahead of the change that writes them (on another
// thread, say): deflated at `level` by the same rule as every member, or kept as they
// are. A change at another level compresses `data` again.
struct PreparedData {
    int level = 0;
    bool deflated = false;
    quint32 crc = 0;
    QByteArray data;         // the member's bytes
    QByteArray compressed;   // what is written, when deflated
};

// Prepares members' bytes for changes at `level`, reusing its deflate state.
class DataPreparer {
public:
    explicit DataPreparer(int level);
    ~DataPreparer();
    DataPreparer(const DataPreparer &) = delete;
    DataPreparer &operator=(const DataPreparer &) = delete;

    // Null for bytes too large for a member.
    std::shared_ptr<const PreparedData> prepare(const QByteArray &data);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Called before each file is compressed: the member name and the file's size.
using Announce = std::function<void(const QString &name, qint64 size)>;

// One member to add: a file, or bytes held in memory under a name of their own.
struct MemberSource {
    QString path;      // the file; for bytes, only their member name
    QByteArray data;   // the bytes, when `inMemory`
    bool inMemory = false;
    std::shared_ptr<const PreparedData> prepared;   // the bytes made ready, if they were

    static MemberSource file(const QString &path) { return {path, {}, false, {}}; }
    static MemberSource bytes(const QString &name, QByteArray data)
    {
        return {name, std::move(data), true, {}};
    }
    static MemberSource ready(const QString &name, std::shared_ptr<const PreparedData> prepared)
    {
        QByteArray data = prepared->data;
        return {name, std::move(data), true, std::move(prepared)};
    }
};

// Adds `files` to `archive`, creating it when absent. Returns the number of members
// written. Throws platform::Error, leaving the archive as it was, when a file cannot
// be read or the archive cannot be changed.
int addFiles(const QString &archive, const QStringList &files, int level,
             const Announce &announce = {});
// The same for members that may be held in memory: a small member written by a
// program need not become a file first.
int addMembers(const QString &archive, const QList<MemberSource> &members, int level,
               const Announce &announce = {});

// Deletes the members named by `names` (see zipfmt::nameMatches). Returns the number
// deleted; an archive with none of them is left untouched. Throws platform::Error
// when the archive cannot be read or changed.
int deleteMembers(const QString &archive, const QStringList &names);

} // namespace zipwrite
