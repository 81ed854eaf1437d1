#include "store/MessageDecoder.h"

#include "mime/Base64.h"
#include "mime/Marker.h"
#include "mime/MimeField.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"
#include "store/MailIdentifier.h"
#include "store/TextOps.h"

#include <QDir>
#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// ---------------------------------------------------------------------------
// Line source: the raw message read once, front to back.

struct Line {
    QByteArray text;       // without its line end
    bool complete = true;  // false for a piece of a line longer than the piece limit
};

class LineSource {
public:
    explicit LineSource(QIODevice &in) : in_(in) { chunk_.resize(kChunk); }

    bool atEnd() const { return pos_ == len_ && (eof_ || in_.atEnd()); }

    // Reads the next line, or the next kMaxDecoderLinePiece bytes of a longer one,
    // into `line`; false at the end of the input.
    bool next(Line &line)
    {
        if (!fill())
            return false;
        // The input is read in large chunks and split here: reading it line by line
        // through the device costs more than the rest of the decoding.
        const char *start = chunk_.constData() + pos_;
        const qint64 avail = std::min(len_ - pos_, kMaxDecoderLinePiece);
        const char *nl = static_cast<const char *>(std::memchr(start, '\n', size_t(avail)));
        const qint64 n = nl ? nl - start + 1 : avail;
        pos_ += n;
        line.complete = nl || atEnd();
        qint64 textLength = nl ? n - 1 : n;
        if (textLength > 0 && start[textLength - 1] == '\r')
            --textLength;
        line.text = QByteArray(start, textLength);
        return true;
    }

private:
    static constexpr qint64 kChunk = 2 * kMaxDecoderLinePiece;

    // Makes a whole line piece available from pos_ unless the input ends first;
    // false when nothing is left.
    bool fill()
    {
        if (len_ - pos_ >= kMaxDecoderLinePiece || eof_)
            return pos_ < len_;
        std::memmove(chunk_.data(), chunk_.constData() + pos_, size_t(len_ - pos_));
        len_ -= pos_;
        pos_ = 0;
        while (len_ < kChunk && !eof_) {
            const qint64 n = in_.read(chunk_.data() + len_, kChunk - len_);
            if (n <= 0)
                eof_ = true;
            else
                len_ += n;
        }
        return pos_ < len_;
    }

    QIODevice &in_;
    QByteArray chunk_;
    qint64 pos_ = 0;
    qint64 len_ = 0;
    bool eof_ = false;
};

bool isBlank(const QByteArray &line) { return line.trimmed().isEmpty(); }

bool startsWithSpace(const QByteArray &line)
{
    return !line.isEmpty() && (line[0] == ' ' || line[0] == '\t');
}

// ---------------------------------------------------------------------------
// Header blocks

// One header block: the fields the decoder uses, and every line of it.
struct HeaderBlock {
    QByteArray from, subject, date, replyTo, messageId;
    QByteArray contentType, transferEncoding, disposition;
    bool hasContentType = false;
    bool hasMessageId = false;
};

enum class Field { None, From, Subject, Date, ReplyTo, MessageId, ContentType,
                   TransferEncoding, Disposition };

// The field a line starts, judged by the name before its first ":".
Field fieldOf(const QByteArray &line)
{
    if (startsWithSpace(line))
        return Field::None;
    const int colon = line.indexOf(':');
    if (colon <= 0)
        return Field::None;
    const QByteArray name = line.left(colon).trimmed().toUpper();
    if (name == "FROM")
        return Field::From;
    if (name == "SUBJECT")
        return Field::Subject;
    if (name == "DATE")
        return Field::Date;
    if (name == "REPLY-TO")
        return Field::ReplyTo;
    if (name == "MESSAGE-ID")
        return Field::MessageId;
    if (name == "CONTENT-TYPE")
        return Field::ContentType;
    if (name == "CONTENT-TRANSFER-ENCODING")
        return Field::TransferEncoding;
    if (name == "CONTENT-DISPOSITION")
        return Field::Disposition;
    return Field::None;
}

// Reads a header block from the current position up to (and consuming) its first
// empty line. Continuation lines are appended trimmed: without a separator for the
// fields stored in the header record (so a folded "Hello" / " World" reads
// "HelloWorld"), with one space for the MIME fields whose parameters are parsed.
// Every line read except the closing empty one is appended to `raw` after CR LF.
void readHeaderBlock(LineSource &src, HeaderBlock &block, QByteArray *raw)
{
    Line line;
    QByteArray *value = nullptr;
    bool spaced = false;
    while (src.next(line)) {
        if (isBlank(line.text))
            return;
        if (raw) {
            raw->append("\r\n");
            raw->append(line.text);
        }
        if (startsWithSpace(line.text)) {
            if (value) {
                if (spaced)
                    value->append(' ');
                value->append(line.text.trimmed());
            }
            continue;
        }
        const Field field = fieldOf(line.text);
        spaced = false;
        switch (field) {
        case Field::From: value = &block.from; break;
        case Field::Subject: value = &block.subject; break;
        case Field::Date: value = &block.date; break;
        case Field::ReplyTo: value = &block.replyTo; break;
        case Field::MessageId: value = &block.messageId; block.hasMessageId = true; break;
        case Field::ContentType:
            value = &block.contentType; block.hasContentType = true; spaced = true; break;
        case Field::TransferEncoding: value = &block.transferEncoding; spaced = true; break;
        case Field::Disposition: value = &block.disposition; spaced = true; break;
        case Field::None: value = nullptr; break;
        }
        // A field that occurs twice keeps its last value.
        if (value)
            *value = line.text.mid(line.text.indexOf(':') + 1).trimmed();
    }
}

// ---------------------------------------------------------------------------
// MIME parameters

// The media type of a Content-Type value ("TEXT/PLAIN"), upper-cased, without its
// parameters: a parameter such as name="context.pdf" must not make a part textual.
QByteArray mediaType(const QByteArray &contentType)
{
    const int semi = contentType.indexOf(';');
    return (semi < 0 ? contentType : contentType.left(semi)).trimmed().toUpper();
}

// Text is what the first text part may be: a text, message or ASCII type, or no
// Content-Type at all (plain text).
bool isTextual(const HeaderBlock &block)
{
    const QByteArray type = mediaType(block.contentType);
    return !block.hasContentType || type.contains("TEXT") || type.contains("RFC822")
        || type.contains("ASCII");
}

// The file name a part's header gives it: Content-Disposition's filename wins over
// Content-Type's name; RFC 2231 forms count when there is no plain one.
QString partName(const HeaderBlock &part)
{
    for (const auto &[field, key] : {std::pair{&part.disposition, "filename"}, std::pair{&part.contentType, "name"}}) {
        const QString name = mime::parseMimeField(*field).textParameter(key);
        if (!name.isEmpty())
            return name;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Output files

// One piece being written: kept in memory while the budget allows, else a file.
// A negative budget writes every piece to a file from its start.
class OutputPiece {
public:
    OutputPiece(const QString &dir, const QString &name, DecodedFileKind kind, qint64 &budget)
        : dir_(dir), budget_(budget)
    {
        piece_.name = name;
        piece_.kind = kind;
        if (budget_ < 0)
            open();
    }
    void write(const QByteArray &bytes)
    {
        if (!file_.isOpen()) {
            if (piece_.data.size() + bytes.size() <= kMaxPieceInMemory && bytes.size() <= budget_) {
                piece_.data += bytes;
                budget_ -= bytes.size();
                return;
            }
            spill();
        }
        if (file_.write(bytes) != bytes.size())
            throw platform::Error(QStringLiteral("Unable to write file %1").arg(file_.fileName()));
    }
    void writeLine(const Line &line)
    {
        write(line.text);
        if (line.complete)
            write("\r\n");
    }
    DecodedPiece &close()
    {
        if (file_.isOpen()) {
            file_.close();
            if (file_.error() != QFileDevice::NoError)
                throw platform::Error(QStringLiteral("Unable to write file %1").arg(file_.fileName()));
            piece_.path = file_.fileName();
        }
        return piece_;
    }
    // Forgets what was written.
    void discard()
    {
        if (file_.isOpen()) {
            file_.close();
            file_.remove();
        }
        budget_ += piece_.data.size();
        piece_.data.clear();
    }

private:
    void open()
    {
        file_.setFileName(dir_ + piece_.name);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            if (!QDir().mkpath(dir_) || !file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
                throw platform::Error(QStringLiteral("Unable to create file %1").arg(file_.fileName()));
        }
    }
    void spill()
    {
        open();
        const QByteArray kept = std::exchange(piece_.data, {});
        budget_ += kept.size();
        if (file_.write(kept) != kept.size())
            throw platform::Error(QStringLiteral("Unable to write file %1").arg(file_.fileName()));
    }

    QString dir_;
    qint64 &budget_;
    QFile file_;
    DecodedPiece piece_;
};

// ---------------------------------------------------------------------------
// The decoder proper

class Decoder {
public:
    Decoder(QIODevice &raw, const QString &workDir, const QString &fallbackId, qint64 &budget,
            const DecodedPieceSink &sink)
        : src_(raw), workDir_(workDir), fallbackId_(fallbackId), budget_(budget), sink_(sink)
    {
    }

    DecodedMessage run()
    {
        HeaderBlock header;
        readHeaderBlock(src_, header, &msg_.rawHeader);
        msg_.from = header.from;
        msg_.subject = header.subject;
        msg_.date = header.date;
        msg_.replyTo = header.replyTo;
        msg_.identifier = MailIdFromMessageId(header.messageId);
        if (msg_.identifier.isEmpty())
            msg_.identifier = platform::sanitizeFileName(fallbackId_.isEmpty()
                                                             ? uniqueTimeStampName()
                                                             : fallbackId_);
        DecodeBody(header);
        return msg_;
    }

private:
    // The Content-Type decides: multipart with a boundary gives parts; text, or no
    // Content-Type at all (plain text), gives a single body; anything else is one
    // attachment that runs to the end of the message.
    void DecodeBody(const HeaderBlock &header)
    {
        const QByteArray type = mediaType(header.contentType);
        if (!type.contains("MULTIPART") && isTextual(header)) {
            storeSingleBody();
            return;
        }
        if (type.contains("MULTIPART")) {
            const QByteArray boundary = mime::parseMimeField(header.contentType).rawParameter("boundary");
            if (boundary.isEmpty()) {
                storeSingleBody();
                return;
            }
            decodeParts(boundary);
            return;
        }
        firstTextPending_ = false;
        storeAttachment(header, QByteArray());
    }

    void storeSingleBody()
    {
        OutputPiece out(workDir_, msg_.identifier, DecodedFileKind::Body, budget_);
        Line line;
        while (src_.next(line))
            out.writeLine(line);
        sink_(out.close());
    }

    enum class BoundaryLine { No, Part, Close };

    BoundaryLine boundaryLine(const QByteArray &line, const QByteArray &boundary) const
    {
        if (boundary.isEmpty() || !line.startsWith("--"))
            return BoundaryLine::No;
        QByteArray rest = line.mid(2);
        if (!rest.startsWith(boundary))
            return BoundaryLine::No;
        rest = rest.mid(boundary.size());
        if (rest.trimmed().isEmpty())
            return BoundaryLine::Part;
        if (rest.startsWith("--") && rest.mid(2).trimmed().isEmpty())
            return BoundaryLine::Close;
        return BoundaryLine::No;
    }

    void decodeParts(const QByteArray &boundary)
    {
        // The preamble is kept as the body until the first boundary line shows the
        // message really has parts; a multipart message without one is stored whole.
        {
            OutputPiece preamble(workDir_, msg_.identifier, DecodedFileKind::Body, budget_);
            Line line;
            BoundaryLine found = BoundaryLine::No;
            while (src_.next(line)) {
                if (line.complete && (found = boundaryLine(line.text, boundary)) != BoundaryLine::No)
                    break;
                preamble.writeLine(line);
            }
            if (found != BoundaryLine::Part) {
                sink_(preamble.close());
                return;
            }
            preamble.discard();
        }

        BoundaryLine end = BoundaryLine::Part;
        while (end == BoundaryLine::Part && !src_.atEnd()) {
            HeaderBlock part;
            readHeaderBlock(src_, part, nullptr);
            // A text file the sender attached stays an attachment, never the body.
            const bool attached = part.disposition.trimmed().toUpper().startsWith("ATTACHMENT");
            if (isTextual(part) && !attached && firstTextPending_)
                end = storeFirstText(boundary);
            else
                end = storeAttachment(part, boundary);
        }
        // Whatever follows the closing boundary line (the epilogue) is not mail content.
    }

    BoundaryLine storeFirstText(const QByteArray &boundary)
    {
        firstTextPending_ = false;
        OutputPiece out(workDir_, msg_.identifier, DecodedFileKind::Body, budget_);
        Line line;
        BoundaryLine end = BoundaryLine::No;
        while (src_.next(line)) {
            if (line.complete && (end = boundaryLine(line.text, boundary)) != BoundaryLine::No)
                break;
            // Only the marker as a line of its own counts: a quoted marker does not.
            if (line.complete && mime::isQuorvelMarkerLine(line.text))
                msg_.ownMail = true;
            out.writeLine(line);
        }
        sink_(out.close());
        return end;
    }

    BoundaryLine storeAttachment(const HeaderBlock &part, const QByteArray &boundary)
    {
        QString name = partName(part);
        name = name.isEmpty() ? uniqueTimeStampName() : platform::bareFileName(name);
        msg_.attachmentList += name + ';';
        ++msg_.attachmentCount;

        OutputPiece out(workDir_, name, DecodedFileKind::Attachment, budget_);
        const bool base64 = part.transferEncoding.toUpper().contains("BASE64");
        mime::Base64Decoder decoder;
        QByteArray bytes;
        Line line;
        BoundaryLine end = BoundaryLine::No;
        while (src_.next(line)) {
            if (line.complete && (end = boundaryLine(line.text, boundary)) != BoundaryLine::No)
                break;
            if (base64) {
                decoder.DecodeBase64Line(line.text, bytes);
                out.write(bytes);
                bytes.resize(0);   // keeps its capacity for the next line
            } else {
                out.writeLine(line);
            }
        }
        if (base64) {
            decoder.finish(bytes);
            out.write(bytes);
        }
        sink_(out.close());
        return end;
    }

    // Parts without a name get the time stamp plus a counter, so that two of them
    // never replace each other.
    QString uniqueTimeStampName()
    {
        return TimeStampName() + '-' + QString::number(++unnamed_);
    }

    LineSource src_;
    QString workDir_;
    QString fallbackId_;
    qint64 &budget_;
    const DecodedPieceSink &sink_;
    DecodedMessage msg_;
    bool firstTextPending_ = true;
    int unnamed_ = 0;
};

} // namespace

QString DecodedMessage::descriptor() const
{
    return QString::number(attachmentCount) + QStringLiteral("     ") + attachmentList;
}

DecodedMessage DecodeMessageStream(QIODevice &raw, const QString &workDir,
                                   const QString &fallbackId, const DecodedFileSink &sink)
{
    qint64 filesOnly = -1;
    return DecodeMessagePieces(raw, workDir, fallbackId, filesOnly,
                               [&sink](DecodedPiece &piece) { sink(piece.path, piece.kind); });
}

DecodedMessage DecodeMessagePieces(QIODevice &raw, const QString &workDir,
                                   const QString &fallbackId, qint64 &memoryBudget,
                                   const DecodedPieceSink &sink)
{
    Decoder decoder(raw, workDir.endsWith('/') ? workDir : workDir + '/', fallbackId,
                    memoryBudget, sink);
    return decoder.run();
}
