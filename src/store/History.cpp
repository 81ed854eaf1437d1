#include "store/History.h"

#include "store/MailIdentifier.h"
#include "store/TextOps.h"

#include "platform/Clock.h"

#include <QFileInfo>

#include <algorithm>

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

namespace {

QString keyOfLine(const QString &line)
{
    const qsizetype space = line.indexOf(' ');
    return line.mid(space + 1).toCaseFolded();
}

QString keyOfUniqueId(const QString &uniqueId)
{
    return RawMessageFileName(uniqueId).mid(3).toCaseFolded();
}

} // namespace

bool AlreadyFetched(const QStringList &history, const QString &uniqueId)
{
    const QString key = keyOfUniqueId(uniqueId);
    return std::any_of(history.cbegin(), history.cend(),
                       [&](const QString &line) { return keyOfLine(line) == key; });
}

QSet<QString> HistoryKeys(const QStringList &history)
{
    QSet<QString> keys;
    keys.reserve(history.size());
    for (const QString &line : history)
        keys.insert(keyOfLine(line));
    return keys;
}

bool AlreadyFetched(const QSet<QString> &historyKeys, const QString &uniqueId)
{
    return historyKeys.contains(keyOfUniqueId(uniqueId));
}

void TrimHistory(QStringList &history, const QString &historyFile)
{
    QSet<QString> seen;
    history.removeIf([&](const QString &line) {
        const QString key = keyOfLine(line);
        if (seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
    SaveHistory(historyFile, history);
}

int PruneHistory(QStringList &history, const QStringList &serverUniqueIds)
{
    QSet<QString> listed;
    listed.reserve(serverUniqueIds.size());
    for (const QString &uid : serverUniqueIds)
        listed.insert(keyOfUniqueId(uid));
    const qsizetype before = history.size();
    QSet<QString> kept;
    history.removeIf([&](const QString &line) {
        const QString key = keyOfLine(line);
        if (!listed.contains(key) || kept.contains(key))
            return true;
        kept.insert(key);
        return false;
    });
    return int(before - history.size());
}

void AppendHistory(QStringList &history, const QString &historyFile, const QString &line,
                   bool durable)
{
    history += line;
    SaveHistory(historyFile, history, durable);
}
