#include "transfer/PostRun.h"

#include "net/SmtpClient.h"
#include "platform/CaseResolver.h"
#include "platform/Prompts.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

// The lines of `now` that are not among `loaded`, counted with their repeats and
// kept in file order: what was added to the queue file after it was loaded.
QStringList LinesAddedSince(const QStringList &loaded, const QStringList &now)
{
    QHash<QString, int> left;
    for (const QString &line : loaded)
        ++left[line];
    QStringList added;
    for (const QString &line : now) {
        auto it = left.find(line);
        if (it != left.end() && *it > 0)
            --*it;
        else
            added += line;
    }
    return added;
}

} // namespace

PostRun::PostRun(ControlCentreState &state, TSmtpClient &client) : state_(state), client_(client) {}

bool PostRun::stopRequested() const
{
    return stop_ || state_.Runs.stopRequested();
}

void PostRun::GetHeader(const QString &path, QStringList &recipients, QString &subject, QString &to)
{
    const OutgoingHeader header = ReadOutgoingHeader(path);
    subject = header.subject;
    recipients += header.recipients;
    to = header.toText();
}

void PostRun::Send(RunProgress &progress)
{
    RunScope running(state_.Runs, RunState::Post);
    if (!running.started())
        return;
    stop_ = false;
    loadedQueue_.reset();
    const QString queue = QueueFilePath(state_.OutboxDir);
    if (!QFileInfo::exists(queue))
        return;
    state_.meTemp = LoadQueue(queue);
    loadedQueue_ = state_.meTemp;
    const int count = int(state_.meTemp.size());
    if (count == 0) {
        platform::prompts().information("No mail in queue");
        return;
    }

    progress.begin(RunProgress::Kind::Post, count, QString::number(count) + " mail(s) to be sent");
    QStringList recipients;
    try {
        for (int i = 0; i < count && !stopRequested(); ++i)
            PostQueueLine(i, count, recipients, progress);
    } catch (...) {
        progress.end();
        // Mails posted before the error have had their files deleted: their lines
        // leave the queue now, or the next run would call them corrupted.
        if (std::any_of(state_.meTemp.cbegin(), state_.meTemp.cend(), IsMarked)) {
            try {
                RemoveSentMailFromQueue();
            } catch (...) {
            }
        }
        throw;
    }
    progress.end();
}

void PostRun::PostQueueLine(int index, int count, QStringList &recipients, RunProgress &progress)
{
    const QString line = state_.meTemp[index];
    const QueueLine queued = ParseQueueLine(line);
    const QString &name = queued.name;

    const QString headerPath = OutgoingHeaderPath(state_.OutboxDir, name);
    if (!CheckFileExists(headerPath, "quorvel " + name + " Mail header corrupted", true)) {
        state_.meTemp[index] = MarkFailed(line);
        return;
    }
    QString bodyPath = BodyDocumentPath(state_.OutboxDir, name);
    if (!CheckFileExists(bodyPath, QString(), false)) {
        bodyPath = PackagePath(state_.OutboxDir, name);
        if (!CheckFileExists(bodyPath, "One mail in queue is corrupted", true)) {
            state_.meTemp[index] = MarkFailed(line);
            return;
        }
    }

    recipients.clear();
    QString subject, to;
    GetHeader(headerPath, recipients, subject, to);

    client_.RcptName = recipients;
    client_.EmailFiles = QStringList{bodyPath};
    client_.HdrFrom = state_.UserName + " <" + state_.EmailAddress + ">";
    client_.HdrTo = to;
    client_.HdrSubject = subject;
    client_.FromName = state_.EmailAddress;
    for (const QString &path : queued.attachmentPaths()) {
        if (CheckFileExists(path, "Unable to locate attachment " + path, true))
            client_.EmailFiles += platform::resolveCase(path);
    }
    client_.Host = state_.MailServer;
    client_.Port = state_.SMTPport;

    if (!client_.Connect()) {
        platform::prompts().plain("Unable to connect to Mail server");
    } else {
        client_.SendMail();
        client_.Quit();
        if (!client_.ErrorMessage().isEmpty()) {
            platform::prompts().warning("Mail Posting Error\r" + client_.ErrorMessage());
        } else {
            QFile::remove(bodyPath);
            QFile::remove(headerPath);
            state_.meTemp[index] = MarkSent(line);
        }
    }

    progress.advance(index + 1, QString::number(index + 1) + " out of " + QString::number(count) + " sent");
}

void PostRun::RemoveSentMailFromQueue()
{
    const QString queue = QueueFilePath(state_.OutboxDir);
    QStringList kept = RemoveMarkedLines(state_.meTemp);
    if (loadedQueue_) {
        // The editor appends to the queue file while the run holds the queue in
        // meTemp; those lines are not in meTemp and must survive the rewrite.
        kept += LinesAddedSince(*loadedQueue_, LoadQueue(queue));
        loadedQueue_.reset();
    }
    state_.meTemp = kept;
    SaveQueue(queue, state_.meTemp);
}
