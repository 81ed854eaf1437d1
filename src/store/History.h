#pragma once
// The fetch history (AppPath + "/quorvel.hst"): one line per fetched message, oldest
// first, each the local date of fetching "yyyymmdd", one space, and the name of the
// message's raw file without its leading "Msg" (the unique-id + ".txt"). In memory it
// is the control centre's HistoryList.

#include <QSet>
#include <QString>
#include <QStringList>

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

// Keeps the first line of each unique-id and saves the list (creating the file when
// absent). The history is never cut by a count: a line dropped for a message still on
// the server would make the next run fetch that message again. PruneHistory keeps it
// bounded by what the server holds.
void TrimHistory(QStringList &history, const QString &historyFile);

// A message is fetched once while it stays on the server: a line's day does not matter,
// only its unique-id, the text after the line's first space (U + ".txt", U made safe
// as the raw file name made it). Unique-ids are compared without regard to case.
//
// True when `history` holds a line for `uniqueId`, of any day.
bool AlreadyFetched(const QStringList &history, const QString &uniqueId);
// The same over the keys of HistoryKeys, for a run that looks up many unique-ids.
QSet<QString> HistoryKeys(const QStringList &history);
bool AlreadyFetched(const QSet<QString> &historyKeys, const QString &uniqueId);

// Keeps the history bounded by what the server holds: drops every line whose unique-id
// `serverUniqueIds` does not hold, and every line after the first of one unique-id;
// the lines kept stay in their order. `serverUniqueIds` must hold every unique-id the
// server lists (more does no harm; a partial listing would drop messages the server
// still has, which would then be fetched again). Returns how many lines were dropped;
// the caller saves.
int PruneHistory(QStringList &history, const QStringList &serverUniqueIds);

// Adds `line` at the end and saves the whole list; with `durable` false the save is
// not flushed to disk (the decoding run flushes once for its whole batch).
void AppendHistory(QStringList &history, const QString &historyFile, const QString &line,
                   bool durable = true);
