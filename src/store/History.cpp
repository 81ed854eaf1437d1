#include "store/History.h"

#include "store/MailIdentifier.h"
#include "store/TextOps.h"

#include "platform/Clock.h"

#include <QFileInfo>

QString HistoryLine(const QString &uniqueId)
{
    // Made from the raw file's name rather than the bare unique-id, so that a
    // unique-id that is no safe file name is looked up as the decoder recorded it.
    return HistoryLineForRawFile(RawMessageFileName(uniqueId));
}

QString HistoryLineForRawFile(const QString &rawFilePath)
{
    return platform::now().toString("yyyyMMdd") + ' ' + QFileInfo(rawFilePath).fileName().mid(3);
}

QStringList LoadHistory(const QString &historyFile)
{
    if (!QFileInfo::exists(historyFile))
        return {};
    QStringList lines;
    for (const QByteArray &line : SplitLines(ReadStoreFile(historyFile)))
        lines += TextFromStore(line);
    return lines;
}

void SaveHistory(const QString &historyFile, const QStringList &history, bool durable)
{
    WriteStoreFile(historyFile, JoinLines(history), durable);
}

void TrimHistory(QStringList &history, const QString &historyFile)
{
    if (history.size() > kHistoryLimit)
        history.remove(0, history.size() - kHistoryLimit);
    SaveHistory(historyFile, history);
}

bool AlreadyFetched(const QStringList &history, const QString &uniqueId)
{
    return history.contains(HistoryLine(uniqueId), Qt::CaseInsensitive);
}

void AppendHistory(QStringList &history, const QString &historyFile, const QString &line,
                   bool durable)
{
    history += line;
    SaveHistory(historyFile, history, durable);
}
