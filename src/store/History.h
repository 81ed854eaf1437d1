#pragma once
// The fetch history (AppPath + "/quorvel.hst"): one line per fetched message, oldest
// first, each the local date of fetching "yyyymmdd", one space, and the name of the
// message's raw file without its leading "Msg" (the unique-id + ".txt"). In memory it
// is the control centre's HistoryList.

#include <QString>
#include <QStringList>

// How many lines the history keeps at start-up.
inline constexpr int kHistoryLimit = 100;

// Today's line for the message with unique-id `uniqueId`.
QString HistoryLine(const QString &uniqueId);
// Today's line for the raw message file `rawFilePath` ("Msg" + unique-id + ".txt").
QString HistoryLineForRawFile(const QString &rawFilePath);

// The history file's lines; none when it does not exist. Raises platform::Error when
// it exists but cannot be read.
QStringList LoadHistory(const QString &historyFile);
// Replaces the history file with `history`; raises platform::Error when it cannot be
// written.
void SaveHistory(const QString &historyFile, const QStringList &history, bool durable = true);

// Drops lines from the front until at most 100 remain, then saves the list (creating
// the file when absent).
void TrimHistory(QStringList &history, const QString &historyFile);

// True when `history` holds today's line for `uniqueId` (whole lines, any case).
bool AlreadyFetched(const QStringList &history, const QString &uniqueId);

// Adds `line` at the end and saves the whole list; with `durable` false the save is
// not flushed to disk (the decoding run flushes once for its whole batch).
void AppendHistory(QStringList &history, const QString &historyFile, const QString &line,
                   bool durable = true);
