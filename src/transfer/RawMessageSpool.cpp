#include "transfer/RawMessageSpool.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Raw message lines are collected and written in blocks of this size.
constexpr qsizetype kRawWriteBlock = 256 * 1024;

// Where a raw message file is written until the whole message is in it. It lies
// below the inbox directory, so the finished file is renamed into place on the same
// file system.
QString partialDir(const QString &inboxDir)
{
    return platform::workDir(inboxDir) + QStringLiteral("fetch/");
}

} // namespace

RawMessageSpool::RawMessageSpool(QString inboxDir)
    : inboxDir_(std::move(inboxDir)), partialDir_(partialDir(inboxDir_))
{
}

RawMessageSpool::~RawMessageSpool()
{
    if (file_.isOpen())
        file_.close();
}

void RawMessageSpool::removePartials(const QString &inboxDir)
{
    QDir(partialDir(inboxDir)).removeRecursively();
}

void RawMessageSpool::prepare()
{
    drop();
    buffer_.reserve(2 * kRawWriteBlock);
    QDir().mkpath(partialDir_);
    // Without a thread of its own every message is decoded as it is stored.
    try {
        if (MaxDecodedBytes > 0)
            predecoder_ = std::make_unique<MessagePredecoder>(MaxDecodedBytes, ArchiveLevel);
    } catch (...) {
    }
}

bool RawMessageSpool::canHold()
{
    if (predecoder_) {
        for (const QString &path : predecoder_->takeDecodedHeld()) {
            auto held = held_.find(path);
            if (held == held_.end())
                continue;
            heldBytes_ -= held->size();
            *held = QByteArray();
        }
    }
    return heldBytes_ < MaxHeldBytes;
}

bool RawMessageSpool::openFile()
{
    file_.setFileName(partialPath_);
    if (file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    writeFailed_ = true;
    writeError_ = file_.errorString();
    return false;
}

bool RawMessageSpool::begin(const QString &path, bool hold, QString &why)
{
    path_ = path;
    partialPath_ = partialDir_ + QFileInfo(path).fileName();
    buffer_.resize(0);
    writeFailed_ = false;
    holding_ = hold;
    if (!holding_ && !openFile()) {
        why = QStringLiteral("Unable to create %1: %2").arg(path, writeError_);
        return false;
    }
    return true;
}

void RawMessageSpool::append(const QByteArray &line, bool cut)
{
    buffer_ += line;
    // A cut piece is followed by the rest of its line, not by a line end.
    if (!cut)
        buffer_ += "\r\n";
    stored();
}

void RawMessageSpool::appendLines(QByteArrayView lines)
{
    buffer_.append(lines);
    stored();
}

void RawMessageSpool::stored()
{
    // A held message that outgrows what may be held goes to its raw file after all.
    if (holding_ && heldBytes_ + buffer_.size() > MaxHeldBytes) {
        holding_ = false;
        openFile();
    }
    if (!holding_ && buffer_.size() >= kRawWriteBlock)
        flushBuffer();
}

void RawMessageSpool::flushBuffer()
{
    if (buffer_.isEmpty())
        return;
    if (!writeFailed_ && file_.write(buffer_) != buffer_.size()) {
        writeFailed_ = true;
        writeError_ = file_.errorString();
    }
    // Keeps its capacity: the buffer is reused for every message of the run.
    buffer_.resize(0);
}

bool RawMessageSpool::finish(bool received, const QString &retrievalFailure, QString &why, bool &writeFailed)
{
    writeFailed = false;
    if (std::exchange(holding_, false)) {
        if (!received) {
            buffer_.resize(0);
            why = retrievalFailure;
            return false;
        }
        // The buffer itself is held, without the room it grew beyond its text; the
        // next message starts a new one.
        heldBytes_ += buffer_.size();
        QByteArray text = std::exchange(buffer_, QByteArray());
        text.squeeze();
        buffer_.reserve(2 * kRawWriteBlock);
        held_.insert(path_, text);
        if (predecoder_)
            predecoder_->post(RawMessage::inMemory(path_, text));
        return true;
    }
    flushBuffer();
    if (file_.isOpen()) {
        file_.close();
        if (!writeFailed_ && file_.error() != QFileDevice::NoError) {
            writeFailed_ = true;
            writeError_ = file_.errorString();
        }
    }
    if (writeFailed_) {
        why = QStringLiteral("Unable to write %1: %2").arg(path_, writeError_);
        writeFailed = true;
        QFile::remove(partialPath_);
        return false;
    }
    if (!received) {
        why = retrievalFailure;
        QFile::remove(partialPath_);
        return false;
    }
    if (!QFile::rename(partialPath_, path_)) {
        why = QStringLiteral("Unable to create %1").arg(path_);
        writeFailed = true;
        QFile::remove(partialPath_);
        return false;
    }
    if (predecoder_)
        predecoder_->post(RawMessage::file(path_));
    return true;
}

void RawMessageSpool::abandon()
{
    holding_ = false;
    buffer_.resize(0);
    if (file_.isOpen())
        file_.close();
    QFile::remove(partialPath_);
}

bool RawMessageSpool::syncFileSystemOf(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

QList<RawMessage> RawMessageSpool::take(const QStringList &paths)
{
    QList<RawMessage> messages;
    messages.reserve(paths.size());
    for (const QString &path : paths) {
        auto held = held_.find(path);
        messages << (held == held_.end() ? RawMessage::file(path) : RawMessage::inMemory(path, std::move(*held)));
    }
    if (predecoder_)
        predecoder_->attachTo(messages);
    drop();
    return messages;
}

void RawMessageSpool::drop()
{
    predecoder_.reset();
    held_.clear();
    heldBytes_ = 0;
    buffer_ = QByteArray();
}
