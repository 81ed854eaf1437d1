#pragma once
// The queue file (OutboxDir + "quorvel.que"): one line per queued mail, in the order of
// queueing: the mail name N alone, or N + "=" + the attached files' paths, each
// followed by ";". Posting marks a finished line with "SENT" or "FAIL" in front; the
// clean-up after a run drops the marked lines.

#include <QString>
#include <QStringList>

struct QueueLine {
    QString name;          // the text before the first "="
    QString attachments;   // the text after it; empty without "="

    // The pieces before each ";" of the attachment text.
    QStringList attachmentPaths() const;
};

QueueLine ParseQueueLine(const QString &line);

// N alone, or N + "=" + each path followed by ";" when there are paths.
QString FormatQueueLine(const QString &mailName, const QStringList &attachmentPaths);

inline const QString kSentMark = QStringLiteral("SENT");
inline const QString kFailMark = QStringLiteral("FAIL");

QString MarkSent(const QString &line);
QString MarkFailed(const QString &line);
// True when the line begins with "SENT" or "FAIL".
bool IsMarked(const QString &line);
// The lines that are not marked, in order.
QStringList RemoveMarkedLines(const QStringList &lines);

// The lines of the queue file; none when it does not exist. Raises platform::Error
// when it exists but cannot be read.
QStringList LoadQueue(const QString &queuePath);
// Replaces the queue file with `lines` (an empty list gives an empty file); raises
// platform::Error when it cannot be written.
void SaveQueue(const QString &queuePath, const QStringList &lines);
// Adds `line` at the end of the queue file, creating it when absent.
void AppendQueueLine(const QString &queuePath, const QString &line);
