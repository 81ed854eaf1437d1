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

// Drops every line that `drop` refuses by its key, and every line after the first
// of its unique-id; the lines kept stay in their order.
template <typename Drop>
void keepFirstOfEach(QStringList &history, Drop drop)
{
    QSet<QString> seen;
    history.removeIf([&](const QString &line) {
        const QString key = keyOfLine(line);
        if (drop(key) || seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
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
    keepFirstOfEach(history, [](const QString &) { return false; });
    SaveHistory(historyFile, history);
}

int PruneHistory(QStringList &history, const QStringList &serverUniqueIds)
{
    QSet<QString> listed;
    listed.reserve(serverUniqueIds.size());
    for (const QString &uid : serverUniqueIds)
        listed.insert(keyOfUniqueId(uid));
    const qsizetype before = history.size();
    keepFirstOfEach(history, [&listed](const QString &key) { return !listed.contains(key); });
    return int(before - history.size());
}

void AppendHistory(QStringList &history, const QString &historyFile, const QString &line,
                   bool durable)
{
    history += line;
    SaveHistory(historyFile, history, durable);
}
