#include "store/HeaderRecord.h"

#include "store/StorePaths.h"
#include "store/TextOps.h"

#include "common/ArchiveOps.h"

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"

#include <QFile>
#include <QFileInfo>

#include <array>

namespace {

struct Field {
    const char *key;
    QByteArray HeaderRecord::*value;
};

// Record order, which is also the order in which a line is searched.
const std::array<Field, 7> kFields{{
    {"MAIL-TYPE:", &HeaderRecord::mailType},
    {"STATUS:", &HeaderRecord::status},
    {"DATE:", &HeaderRecord::date},
    {"FROM:", &HeaderRecord::from},
    {"SUBJECT:", &HeaderRecord::subject},
    {"ATTACH:", &HeaderRecord::attach},
    {"HEADER:", &HeaderRecord::header},
}};

bool complete(const HeaderRecord &r)
{
    return !r.status.isEmpty() && !r.date.isEmpty() && !r.from.isEmpty() && !r.subject.isEmpty()
           && !r.attach.isEmpty() && !r.header.isEmpty();
}

QByteArray oneLine(QByteArray value)
{
    value.replace('\r', ' ');
    value.replace('\n', ' ');
    return value;
}

} // namespace

bool HeaderRecord::ownMail() const { return mailType.contains("quorvel"); }

QByteArray FormatHeaderRecord(const QByteArray &date, bool ownMail, const QByteArray &status,
                              const QByteArray &attach, const QByteArray &rawHeader,
                              const QByteArray &subject, const QByteArray &from)
{
    const QByteArray values[] = {ownMail ? QByteArray("quorvel") : QByteArray(),
                                 oneLine(status),  oneLine(date),   oneLine(from),
                                 oneLine(subject), oneLine(attach), rawHeader};
    QByteArray out;
    for (size_t i = 0; i < kFields.size(); ++i)
        out += kFields[i].key + values[i] + "\r\n";
    return out;
}

namespace {

// The reading rule over lines given by `nextLine` (false at the end of the data).
template <typename NextLine>
HeaderRecord parseLines(NextLine nextLine)
{
    HeaderRecord record;
    QByteArray line;
    bool afterHeaderLine = false;
    bool done = false;
    // Reading goes on past the point where the fields are complete only to collect the
    // raw header lines; the fields no longer change then.
    while (nextLine(line)) {
        if (afterHeaderLine)
            record.rawHeader += "\r\n" + line;
        else if (line.startsWith("HEADER:")) {
            afterHeaderLine = true;
            record.rawHeader = line.mid(qstrlen("HEADER:"));
        }
        if (done)
            continue;
        for (const Field &f : kFields) {
            const qsizetype at = line.indexOf(f.key);
            if (at >= 0)
                record.*f.value = line.mid(at + qstrlen(f.key));
        }
        done = complete(record);
    }
    return record;
}

} // namespace

HeaderRecord ParseHeaderRecord(QIODevice &in)
{
    return parseLines([&](QByteArray &line) { return ReadStoreLine(in, line); });
}

// Lines cut straight from the bytes: listing a folder parses ten thousand records.
HeaderRecord ParseHeaderRecord(const QByteArray &content)
{
    qsizetype pos = 0;
    return parseLines([&](QByteArray &line) {
        if (pos >= content.size())
            return false;
        qsizetype end = content.indexOf('\n', pos);
        const qsizetype next = end < 0 ? content.size() : end + 1;
        if (end < 0)
            end = content.size();
        line = content.mid(pos, end - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        pos = next;
        return true;
    });
}

HeaderRecord ReadHeaderRecordFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw platform::Error("Cannot open file " + path);
    return ParseHeaderRecord(f);
}

bool WriteHeaderRecord(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                       const QString &mailId, const QByteArray &date, bool ownMail,
                       const QByteArray &status, const QByteArray &attach,
                       const QByteArray &rawHeader, const QByteArray &subject,
                       const QByteArray &from)
{
    const QString work = platform::workDir(inboxDir);
    if (mailId.isEmpty())
        throw platform::Error("Cannot create file " + work);
    const QString temp = platform::joinPath(work, platform::sanitizeFileName(mailId));
    WriteTemporaryFile(temp, FormatHeaderRecord(date, ownMail, status, attach, rawHeader,
                                                subject, from));
    const bool added = AddToArchive(zip, HeaderArchivePath(inboxDir, folder), temp);
    QFile::remove(temp);
    return added;
}

QString ExtractMemberCopy(TZipArchive &zip, const QString &archive, const QString &member,
                          const QString &baseDir)
{
    // Extraction writes the member under its bare name; a name the sanitiser would
    // change could not be found again as that file.
    if (member.isEmpty() || platform::sanitizeFileName(member) != member)
        return {};
    const QString work = platform::workDir(baseDir);
    const QString copy = platform::joinPath(work, member);
    QFile::remove(copy);
    if (!ExtractFromArchive(zip, archive, member, work) || !QFileInfo(copy).isFile())
        return {};
    return copy;
}

bool ReadHeaderRecord(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                      const QString &mailId, HeaderRecord &record)
{
    const QString copy = ExtractMemberCopy(zip, HeaderArchivePath(inboxDir, folder), mailId,
                                           inboxDir);
    if (copy.isEmpty())
        return false;
    struct Remove {
        QString path;
        ~Remove() { QFile::remove(path); }
    } remove{copy};
    record = ReadHeaderRecordFile(copy);
    return true;
}
