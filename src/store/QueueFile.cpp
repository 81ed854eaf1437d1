#include "store/QueueFile.h"

#include "store/AttachmentDescriptor.h"
#include "store/TextOps.h"

#include <QFileInfo>

QStringList QueueLine::attachmentPaths() const { return SplitEntries(attachments); }

QueueLine ParseQueueLine(const QString &line)
{
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return {line, {}};
    return {line.left(eq), line.mid(eq + 1)};
}

QString FormatQueueLine(const QString &mailName, const QStringList &attachmentPaths)
{
    if (attachmentPaths.isEmpty())
        return mailName;
    QString line = mailName + '=';
    for (const QString &path : attachmentPaths)
        line += path + ';';
    return line;
}

QString MarkSent(const QString &line) { return kSentMark + line; }

QString MarkFailed(const QString &line) { return kFailMark + line; }

bool IsMarked(const QString &line)
{
    return line.startsWith(kSentMark) || line.startsWith(kFailMark);
}

QStringList RemoveMarkedLines(const QStringList &lines)
{
    QStringList kept;
    for (const QString &line : lines) {
        if (!IsMarked(line))
            kept += line;
    }
    return kept;
}

QStringList LoadQueue(const QString &queuePath)
{
    if (!QFileInfo::exists(queuePath))
        return {};
    QStringList lines;
    for (const QByteArray &line : SplitLines(ReadStoreFile(queuePath)))
        lines += TextFromStore(line);
    return lines;
}

void SaveQueue(const QString &queuePath, const QStringList &lines)
{
    WriteStoreFile(queuePath, JoinLines(lines));
}

void AppendQueueLine(const QString &queuePath, const QString &line)
{
    QStringList lines = LoadQueue(queuePath);
    lines += line;
    SaveQueue(queuePath, lines);
}
