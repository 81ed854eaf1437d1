#pragma once
// The editor's file work, without a window: naming a mail, the outgoing header, the
// body through the RTF codec, the mail package, the queue line, the SENT copy, opening
// a package again and saving an attachment out of a folder.
//
// Each writing operation is one store command: durable when it returns. A file that
// cannot be written raises platform::Error and leaves what was written before as it was.

#include <QString>
#include <QStringList>

class ControlCentreState;
class QTextDocument;

// What the editor's controls hold of a mail that is saved or queued.
struct OutgoingMail {
    QString mailName;
    QStringList recipients;    // the rows of lvTo, in order
    QString subject;
    QStringList attachments;   // the rows of lvAttach, in order
    bool otherMail = false;    // ckOtherMail: the body stays as ".doc", not packed in ".m"
};

class MailWriter {
public:
    explicit MailWriter(ControlCentreState &state);

    // The name of a new mail: the local time as "yymmddhhnnss", then the user's address,
    // every "." turned into "-". Names have a resolution of one second; while a mail of
    // that name still waits in the outbox (its files or its queue line), the time is
    // taken one second later, so a second mail never overwrites the first.
    QString FreshMailName() const;
    bool NameInUse(const QString &mailName) const;

    // The outgoing header OutboxDir + name + ".hdr".
    void SaveMailHeader(const OutgoingMail &mail) const;

    // Writes the outgoing header and the body, packs the body into the package, makes
    // the SENT copy when KeepCopy is "Yes", and leaves the ".m" (or, for other mail
    // programs, the ".doc").
    void FileSave(const OutgoingMail &mail, const QTextDocument &body);

    // FileSave, then the queue line at the end of the queue file: the name alone, or
    // name "=" each attachment followed by ";" when `queueAttachments` and there are
    // attachments, replacing a line of the same name. The files are on disk before a
    // line names them. A line appended
    // while a posting run holds the queue is kept by the run's clean-up.
    // Raises platform::Error with AttachmentPathProblem's text before writing anything
    // when an attachment cannot be carried by a queue line.
    void Queue(const OutgoingMail &mail, bool queueAttachments, const QTextDocument &body);

    // The message refusing an attachment path that a queue line cannot carry (it has
    // no escape for ";" and "="); empty when the path is fine.
    static QString AttachmentPathProblem(const QString &path);

    // Loads the body of the package at `path` into `body` and returns the mail's name
    // (the file name cut at its first "."). The body member is extracted into the
    // outbox's private working directory, so a queued ".doc" of the same name is never
    // read or deleted. Raises platform::Error, leaving `body` as it was, when the
    // package lacks its body or the body is not readable RTF.
    QString PerformFileOpen(const QString &path, QTextDocument &body);

    // Saves attachment member `member` of folder `sourceFolder` as `target`, replacing
    // a file there. False when the attachment archive is missing (already reported);
    // raises platform::Error when the member is not there or the file cannot be written.
    bool SaveAttachment(const QString &sourceFolder, const QString &member,
                        const QString &target);

private:
    void writeMailFiles(const OutgoingMail &mail, const QTextDocument &body);

    ControlCentreState &state_;
};
