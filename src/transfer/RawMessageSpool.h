#pragma once
// Where a fetch run puts the messages it retrieves until they are stored: a raw
// message file ("Msg" + unique-id + ".txt" in the inbox directory), which appears
// under its name only once the whole message is in it, or, for a message the server
// keeps, memory up to a bound (the server's copy keeps it until it is stored).
// Each message kept is decoded ahead on a thread of its own (MessagePredecoder)
// while the next ones arrive; a held message decoded so gives up its text, which
// frees its share of the bound.

#include "store/InboxDecoder.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class RawMessageSpool {
public:
    explicit RawMessageSpool(QString inboxDir);
    ~RawMessageSpool();
    RawMessageSpool(const RawMessageSpool &) = delete;
    RawMessageSpool &operator=(const RawMessageSpool &) = delete;

    // What the spool may hold in memory (creating a file costs more than fetching a
    // small message).
    qint64 MaxHeldBytes = 32 * 1024 * 1024;
    // What the messages decoded ahead may hold in memory; 0 decodes nothing ahead.
    qint64 MaxDecodedBytes = 32 * 1024 * 1024;
    // The compression level of the archives the messages go to.
    int ArchiveLevel = 9;

    // Partial files of a retrieval that never finished: their messages are still on
    // the server, since no QUIT followed.
    static void removePartials(const QString &inboxDir);

    // Makes ready for a run: the directory of partial files, nothing held.
    void prepare();
    // True while more may be held in memory.
    bool canHold();

    // Starts the message whose raw file is `path`, held in memory with `hold`; false
    // (the reason in `why`) when its file cannot be created.
    bool begin(const QString &path, bool hold, QString &why);
    // One line of the message, or with `cut` a piece the socket cut at its line
    // limit, which the rest of the line follows.
    void append(const QByteArray &line, bool cut);
    // Whole lines, each with its line end.
    void appendLines(QByteArrayView lines);
    // Ends the message. With `received` (it arrived whole) it is kept: its raw file
    // renamed into place, or its text held. False, with the reason in `why`, when it
    // was not kept; `writeFailed` tells that the spool, not the retrieval, failed.
    bool finish(bool received, const QString &retrievalFailure, QString &why, bool &writeFailed);
    // Forgets the message in progress (an error interrupted its retrieval).
    void abandon();

    // Makes the raw files written so far durable (one flush of their file system).
    bool sync() const { return syncFileSystemOf(inboxDir_); }
    // One flush of the whole file system that holds `dir`: cheaper than one fsync
    // per raw file when a run has written many.
    static bool syncFileSystemOf(const QString &dir);

    // The messages of `paths` as the decoder takes them, the held ones with their
    // text; the spool holds nothing afterwards.
    QList<RawMessage> take(const QStringList &paths);
    // Forgets every held message.
    void drop();

private:
    bool openFile();
    // After text was added: to the raw file once enough is collected.
    void stored();
    void flushBuffer();

    QString inboxDir_;
    QString partialDir_;
    QString path_;
    QString partialPath_;
    QFile file_;
    bool holding_ = false;
    QHash<QString, QByteArray> held_;
    qint64 heldBytes_ = 0;
    std::unique_ptr<MessagePredecoder> predecoder_;
    QByteArray buffer_;
    bool writeFailed_ = false;
    QString writeError_;
};
