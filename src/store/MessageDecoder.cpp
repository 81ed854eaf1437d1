#include "store/MessageDecoder.h"

#include "mime/Base64.h"
#include "mime/HtmlText.h"
#include "mime/Marker.h"
#include "mime/MimeField.h"
#include "mime/QuotedPrintable.h"
#include "mime/TextCharset.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"
#include "store/MailIdentifier.h"
#include "store/TextOps.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <utility>
#include <memory>
#include <utility>
#include <vector>

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
        // Reuses the line's buffer unless a caller still shares it.
        line.text.resize(textLength);
        std::memcpy(line.text.data(), start, size_t(textLength));
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

// A field value stops growing at this size: a field folded over megabytes is hostile,
// and its lines still reach the raw header.
constexpr qsizetype kMaxFieldValue = 64 * 1024;

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
            if (value && value->size() < kMaxFieldValue) {
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

// What a whole single-part message may be as its body: a text, message or ASCII
// type, or no Content-Type at all (plain text).
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

enum class TransferEncoding { Identity, Base64, QuotedPrintable };

TransferEncoding transferEncoding(const HeaderBlock &part)
{
    const QByteArray value = part.transferEncoding.toUpper();
    if (value.contains("BASE64"))
        return TransferEncoding::Base64;
    if (value.contains("QUOTED-PRINTABLE"))
        return TransferEncoding::QuotedPrintable;
    return TransferEncoding::Identity;
}

// The extension an unnamed part's name gets, so that it opens with the right program.
QString extensionOf(const QByteArray &type)
{
    static const std::pair<const char *, const char *> known[] = {
        {"TEXT/PLAIN", ".txt"}, {"TEXT/HTML", ".html"}, {"MESSAGE/RFC822", ".eml"},
        {"TEXT/CALENDAR", ".ics"}, {"IMAGE/PNG", ".png"}, {"IMAGE/JPEG", ".jpg"},
        {"IMAGE/GIF", ".gif"}, {"APPLICATION/PDF", ".pdf"}, {"TEXT/X-VCARD", ".vcf"},
        {"TEXT/VCARD", ".vcf"}};
    for (const auto &[name, extension] : known)
        if (type == name)
            return QString::fromLatin1(extension);
    return {};
}

// ---------------------------------------------------------------------------
// Output files

// One piece being written: kept in memory while the budget allows, else a file.
// A negative budget writes every piece to a file from its start; without a directory
// a piece that does not fit raises platform::Error (an empty name would be a file in
// the current directory).
class OutputPiece {
public:
    OutputPiece(const QString &dir, const QString &name, DecodedFileKind kind, qint64 &budget,
                qint64 maxInMemory)
        : dir_(dir), budget_(budget), maxInMemory_(maxInMemory)
    {
        piece_.name = name;
        piece_.kind = kind;
        if (budget_ < 0 && !dir_.isEmpty())
            open();
    }
    void write(QByteArrayView bytes)
    {
        if (!file_.isOpen()) {
            if (piece_.data.size() + bytes.size() <= maxInMemory_ && bytes.size() <= budget_) {
                piece_.data.append(bytes);
                budget_ -= bytes.size();
                return;
            }
            spill();
        }
        if (file_.write(bytes.data(), bytes.size()) != bytes.size())
            throw platform::Error(QStringLiteral("Unable to write file %1").arg(file_.fileName()));
    }
    DecodedPiece &close()
    {
        if (file_.isOpen()) {
            file_.close();
            if (file_.error() != QFileDevice::NoError)
                throw platform::Error(QStringLiteral("Unable to write file %1").arg(file_.fileName()));
            piece_.path = file_.fileName();
        } else if (piece_.data.capacity() - piece_.data.size() > kMaxPieceInMemory) {
            // What the piece grew by doubling and does not use is not held.
            piece_.data.squeeze();
        }
        return piece_;
    }
    // As close, and gives the piece another name, which must be free in the directory.
    DecodedPiece &closeAs(const QString &name)
    {
        close();
        if (!piece_.path.isEmpty()) {
            const QString path = dir_ + name;
            if (!QFile::rename(piece_.path, path))
                throw platform::Error(QStringLiteral("Unable to create file %1").arg(path));
            piece_.path = path;
        }
        piece_.name = name;
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
        if (dir_.isEmpty())
            throw platform::Error(QStringLiteral("%1 does not fit in memory").arg(piece_.name));
        open();
        const QByteArray kept = std::exchange(piece_.data, {});
        budget_ += kept.size();
        if (file_.write(kept) != kept.size())
            throw platform::Error(QStringLiteral("Unable to write file %1").arg(file_.fileName()));
    }

    QString dir_;
    qint64 &budget_;
    const qint64 maxInMemory_;
    QFile file_;
    DecodedPiece piece_;
};

// ---------------------------------------------------------------------------
// The decoder proper

// Multiparts nested deeper than this are not followed: such a part is stored whole.
constexpr int kMaxPartDepth = 8;

// Longest extension (with its ".") kept after the number that tells two parts of one
// name apart.
constexpr qsizetype kMaxExtension = 16;

// A boundary line: the level (index into the stack of open multiparts, outermost 0)
// whose boundary it carries, and whether it closes that multipart; level -1 for the
// end of the input.
struct BoundaryHit {
    int level = -1;
    bool close = false;
    bool found() const { return level >= 0; }
};

class Decoder {
public:
    Decoder(QIODevice &raw, const QString &workDir, const QString &fallbackId, qint64 &budget,
            qint64 maxInMemory, const DecodedPieceSink &sink)
        : src_(raw), workDir_(workDir), fallbackId_(fallbackId), budget_(budget), maxInMemory_(maxInMemory),
          sink_(sink)
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
                                                             ? TimeStampName() + QStringLiteral("-1")
                                                             : fallbackId_);
        usedNames_.insert(msg_.identifier.toLower());
        DecodeBody(header);
        // A mail without a plain-text part reads as the text of its HTML.
        if (htmlBody_) {
            if (!bodyStored_)
                sink_(htmlBody_->close());
            else
                htmlBody_->discard();
            htmlBody_.reset();
        }
        return msg_;
    }

private:
    // The Content-Type decides: multipart with a boundary gives parts; a multipart
    // without one is kept as text; anything else is one leaf that runs to the end of
    // the message.
    void DecodeBody(const HeaderBlock &header)
    {
        const QByteArray type = mediaType(header.contentType);
        if (type.startsWith("MULTIPART")) {
            const QByteArray boundary = mime::parseMimeField(header.contentType).rawParameter("boundary");
            if (boundary.isEmpty())
                storeText(HeaderBlock{}, /*markerTest=*/false);
            else
                decodeMultipart(boundary, type == "MULTIPART/DIGEST", true);
            return;
        }
        decodeLeaf(header, false, true);
    }

    BoundaryHit boundaryHit(const QByteArray &line) const
    {
        if (stack_.empty() || !line.startsWith("--"))
            return {};
        // The innermost first: an inner multipart may reuse its outer one's boundary.
        for (int level = int(stack_.size()) - 1; level >= 0; --level) {
            const QByteArray &boundary = stack_[size_t(level)];
            if (line.size() < boundary.size() + 2
                || std::memcmp(line.constData() + 2, boundary.constData(), size_t(boundary.size())) != 0)
                continue;
            const QByteArrayView rest = QByteArrayView(line).sliced(boundary.size() + 2);
            if (rest.trimmed().isEmpty())
                return {level, false};
            if (rest.startsWith("--") && rest.sliced(2).trimmed().isEmpty())
                return {level, true};
        }
        return {};
    }

    // Passes over lines up to the next boundary line.
    BoundaryHit skipToBoundary()
    {
        Line line;
        while (src_.next(line)) {
            if (!line.complete)
                continue;
            if (const BoundaryHit hit = boundaryHit(line.text); hit.found())
                return hit;
        }
        return {};
    }

    // Reads the parts of a multipart entity from just after its header up to the
    // boundary line of an enclosing multipart that ends it (returned) or the end of the
    // input. The message itself keeps its preamble as the body until a boundary line
    // shows it really has parts: a multipart message without one is stored whole.
    BoundaryHit decodeMultipart(const QByteArray &boundary, bool digest, bool message)
    {
        stack_.push_back(boundary);
        const int level = int(stack_.size()) - 1;
        BoundaryHit hit;
        if (message) {
            OutputPiece preamble(workDir_, msg_.identifier, DecodedFileKind::Body, budget_, maxInMemory_);
            mime::TextToUtf8 text({});
            QByteArray converted;
            Line line;
            while (src_.next(line)) {
                if (line.complete && (hit = boundaryHit(line.text)).found())
                    break;
                converted.resize(0);
                text.feed(line.text, converted);
                if (line.complete)
                    text.feed("\n", converted);
                preamble.write(converted);
            }
            if (hit.close || !hit.found()) {
                converted.resize(0);
                text.finish(converted);
                preamble.write(converted);
                sink_(preamble.close());
                bodyStored_ = true;
                stack_.pop_back();
                return {};
            }
            preamble.discard();
        } else {
            // Text before the first boundary line is a note for other mail readers,
            // unless no part follows (a boundary that never comes): then it is the
            // content, kept as an attachment.
            OutputPiece preamble(workDir_, distinctName(QStringLiteral(".preamble")),
                                 DecodedFileKind::Attachment, budget_, maxInMemory_);
            bool text = false;
            Line line;
            while (src_.next(line)) {
                if (line.complete && (hit = boundaryHit(line.text)).found())
                    break;
                text = text || !isBlank(line.text);
                preamble.write(line.text);
                if (line.complete)
                    preamble.write("\r\n");
            }
            if (text && !(hit.level == level && !hit.close)) {
                ++leaves_;
                const QString name = distinctName(QStringLiteral("part-%1").arg(leaves_));
                msg_.attachmentList += name + ';';
                ++msg_.attachmentCount;
                sink_(preamble.closeAs(name));
            } else {
                preamble.discard();
            }
        }
        while (hit.level == level && !hit.close) {
            HeaderBlock part;
            readHeaderBlock(src_, part, nullptr);
            hit = decodeEntity(part, digest);
        }
        // Whatever follows the closing boundary line (the epilogue) is not mail
        // content: it runs to the boundary line of an enclosing multipart.
        while (hit.level == level)
            hit = skipToBoundary();
        stack_.pop_back();
        return hit;
    }

    BoundaryHit decodeEntity(const HeaderBlock &part, bool inDigest)
    {
        const QByteArray type = mediaType(part.contentType);
        if (type.startsWith("MULTIPART") && int(stack_.size()) < kMaxPartDepth) {
            const QByteArray boundary = mime::parseMimeField(part.contentType).rawParameter("boundary");
            if (!boundary.isEmpty())
                return decodeMultipart(boundary, type == "MULTIPART/DIGEST", false);
        }
        return decodeLeaf(part, inDigest, false);
    }

    // One leaf: the first plain text that is not attached is the body, every other
    // leaf an attachment; the first HTML also gives the body when no plain text does.
    // A whole single-part message is the body when it is any kind of text.
    BoundaryHit decodeLeaf(const HeaderBlock &part, bool inDigest, bool message)
    {
        ++leaves_;
        const QByteArray type = !part.hasContentType && inDigest ? QByteArray("MESSAGE/RFC822")
                                                                  : mediaType(part.contentType);
        const QString name = partName(part);
        const bool attached = !name.isEmpty()
            || part.disposition.trimmed().toUpper().startsWith("ATTACHMENT");
        if (!attached && !bodyStored_) {
            const bool plain = type.isEmpty() || type == "TEXT/PLAIN";
            if (type == "TEXT/HTML" && !htmlBody_)
                return storeAttachment(part, type, name, true);
            if (plain || (message && isTextual(part)))
                return storeText(part, !message);
        }
        return storeAttachment(part, type, name, false);
    }

    // Reads a leaf's content up to the boundary line that ends it, undoing its
    // transfer encoding, and hands the bytes to `take` piece by piece. With
    // `exactBytes` the line break before a boundary line is not handed on: it belongs
    // to the boundary, so an attachment sent unencoded keeps its bytes as sent.
    template <typename Take>
    BoundaryHit readContent(TransferEncoding encoding, bool markerTest, Take &&takeBytes,
                            bool exactBytes = false)
    {
        bool breakHeld = false;
        auto take = [&](QByteArrayView bytes) {
            if (!exactBytes || encoding == TransferEncoding::Base64) {
                takeBytes(bytes);
                return;
            }
            if (bytes.isEmpty())
                return;
            if (std::exchange(breakHeld, false))
                takeBytes(QByteArrayView("\r\n"));
            if (bytes.endsWith("\r\n")) {
                bytes.chop(2);
                breakHeld = true;
            }
            if (!bytes.isEmpty())
                takeBytes(bytes);
        };
        mime::Base64Decoder base64;
        QByteArray bytes;
        Line line;
        BoundaryHit end;
        while (src_.next(line)) {
            if (line.complete && (end = boundaryHit(line.text)).found())
                break;
            switch (encoding) {
            case TransferEncoding::Base64:
                bytes.resize(0);   // keeps its capacity for the next line
                base64.DecodeBase64Line(line.text, bytes);
                take(bytes);
                break;
            case TransferEncoding::QuotedPrintable:
                bytes.resize(0);
                mime::decodeQuotedPrintableLine(line.text, line.complete, bytes);
                take(bytes);
                break;
            case TransferEncoding::Identity:
                // Only the marker as a line of its own counts: a quoted marker does not.
                if (markerTest && line.complete && mime::isQuorvelMarkerLine(line.text))
                    msg_.ownMail = true;
                take(line.text);
                if (line.complete)
                    take(QByteArrayLiteral("\r\n"));
                break;
            }
        }
        if (encoding == TransferEncoding::Base64) {
            bytes.resize(0);
            base64.finish(bytes);
            take(bytes);
        }
        // Without a boundary line the last line break is the content's own.
        if (breakHeld && !end.found())
            takeBytes(QByteArrayView("\r\n"));
        return end;
    }

    // The body: decoded and converted to UTF-8 with CR LF line ends.
    BoundaryHit storeText(const HeaderBlock &part, bool markerTest)
    {
        bodyStored_ = true;
        if (htmlBody_) {
            htmlBody_->discard();
            htmlBody_.reset();
        }
        OutputPiece out(workDir_, msg_.identifier, DecodedFileKind::Body, budget_, maxInMemory_);
        mime::TextToUtf8 text(mime::parseMimeField(part.contentType).rawParameter("charset"));
        QByteArray converted;
        const BoundaryHit end = readContent(transferEncoding(part), markerTest, [&](QByteArrayView bytes) {
            converted.resize(0);
            text.feed(bytes, converted);
            out.write(converted);
        });
        converted.resize(0);
        text.finish(converted);
        out.write(converted);
        sink_(out.close());
        return end;
    }

    // An attachment: its bytes as sent, only the transfer encoding undone. For the
    // first HTML (`htmlBody`) the text it shows is also kept, for a body that no plain
    // text may provide.
    BoundaryHit storeAttachment(const HeaderBlock &part, const QByteArray &type,
                                const QString &givenName, bool htmlBody)
    {
        const QString name = distinctName(
            givenName.isEmpty() ? QStringLiteral("part-%1").arg(leaves_) + extensionOf(type)
                                : platform::bareFileName(givenName));
        msg_.attachmentList += name + ';';
        ++msg_.attachmentCount;

        OutputPiece out(workDir_, name, DecodedFileKind::Attachment, budget_, maxInMemory_);
        BoundaryHit end;
        if (htmlBody) {
            htmlBody_ = std::make_unique<OutputPiece>(workDir_, msg_.identifier,
                                                      DecodedFileKind::Body, budget_, maxInMemory_);
            mime::TextToUtf8 text(mime::parseMimeField(part.contentType).rawParameter("charset"));
            mime::HtmlToText html;
            QByteArray utf8, plain;
            end = readContent(transferEncoding(part), false, [&](QByteArrayView bytes) {
                out.write(bytes);
                utf8.resize(0);
                plain.resize(0);
                text.feed(bytes, utf8);
                html.feed(utf8, plain);
                htmlBody_->write(plain);
            }, true);
            utf8.resize(0);
            plain.resize(0);
            text.finish(utf8);
            html.feed(utf8, plain);
            html.finish(plain);
            htmlBody_->write(plain);
        } else {
            end = readContent(transferEncoding(part), false,
                              [&](QByteArrayView bytes) { out.write(bytes); }, true);
        }
        sink_(out.close());
        return end;
    }

    // `name`, or, when an earlier piece of this message has it (in any case, as the
    // file system may not tell them apart), the name with a number before its
    // extension: two pieces of one mail never replace each other.
    QString distinctName(const QString &name)
    {
        const QString key = name.toLower();
        if (!usedNames_.contains(key)) {
            usedNames_.insert(key);
            return name;
        }
        const qsizetype dot = name.lastIndexOf('.');
        const bool hasExtension = dot > 0 && name.size() - dot <= kMaxExtension;
        const QString extension = hasExtension ? name.mid(dot) : QString();
        // Numbers go on from the last one given for this name, so that many parts of
        // one name cost no more than many names.
        int &next = nextNumber_[key];
        for (next = std::max(next, 2);; ++next) {
            const QString suffix = '-' + QString::number(next) + extension;
            QString stem = hasExtension ? name.left(dot) : name;
            // The number is kept whole when the name is at the file system's limit.
            while (!stem.isEmpty()
                   && (stem + suffix).toUtf8().size() > platform::kMaxFileNameBytes)
                stem.chop(1);
            const QString candidate = platform::sanitizeFileName(stem + suffix);
            if (!usedNames_.contains(candidate.toLower())) {
                usedNames_.insert(candidate.toLower());
                return candidate;
            }
        }
    }

    LineSource src_;
    QString workDir_;
    QString fallbackId_;
    qint64 &budget_;
    const qint64 maxInMemory_;
    const DecodedPieceSink &sink_;
    DecodedMessage msg_;
    std::vector<QByteArray> stack_;      // boundaries of the open multiparts
    std::unique_ptr<OutputPiece> htmlBody_;
    QSet<QString> usedNames_;            // lower case
    QHash<QString, int> nextNumber_;     // by lower-case name: the next number to try
    bool bodyStored_ = false;
    int leaves_ = 0;
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
                                   const DecodedPieceSink &sink, qint64 maxPieceInMemory)
{
    Decoder decoder(raw, workDir.isEmpty() || workDir.endsWith('/') ? workDir : workDir + '/', fallbackId,
                    memoryBudget, maxPieceInMemory, sink);
    return decoder.run();
}
