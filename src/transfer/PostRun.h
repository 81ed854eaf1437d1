#pragma once
// The posting run: posts each mail of the queue file in an SMTP connection of its
// own as a multipart message (the client's data handler gives the text part, the
// first attachment is the mail's body file, then the files named in its queue
// line), marks the lines of meTemp it has finished with "SENT" (posted) or "FAIL"
// (unusable), and the clean-up saves the queue file without them. Lines of mails
// the server refused or could not be reached for stay unmarked, and queued.

#include "transfer/RunProgress.h"

#include <QString>
#include <QStringList>
#include <optional>

class ControlCentreState;
class TSmtpClient;

class PostRun {
public:
    PostRun(ControlCentreState &state, TSmtpClient &client);

    // The run: loads the queue file into meTemp and posts its mails, showing its
    // progress on `progress`. Does nothing without a queue file or while another
    // posting or fetching run is in progress. An error it cannot handle ends the run
    // and propagates; the lines of the mails posted before it leave the queue first.
    void Send(RunProgress &progress);

    // Drops the marked lines of meTemp and saves the rest as the queue file, together
    // with any line queued while the run was going on.
    void RemoveSentMailFromQueue();

    // Ends the run after the mail being posted: its reply is read and its line marked.
    void requestStop() { stop_ = true; }

    // Reads the outgoing header file `path`: its recipients are added to
    // `recipients`, `subject` is its subject and `to` the recipients each followed
    // by ";". Raises platform::Error when the file cannot be read.
    static void GetHeader(const QString &path, QStringList &recipients, QString &subject, QString &to);

private:
    // Posts the mail of meTemp's line `index` of `count`; `recipients` is the run's
    // recipient list.
    void PostQueueLine(int index, int count, QStringList &recipients, RunProgress &progress);
    bool stopRequested() const;

    ControlCentreState &state_;
    TSmtpClient &client_;
    bool stop_ = false;
    // The queue file's lines as this run loaded them, until the clean-up: lines
    // found in the file beyond them were queued during the run.
    std::optional<QStringList> loadedQueue_;
};
