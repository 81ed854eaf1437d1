#pragma once
// Turns one fetched message (RFC 822 / MIME bytes) into the pieces of an INBOX mail:
// the header record's fields, a plain-text body file and attachment files.
//
// The decoder is a line scanner that reads its input once, front to back. It reads
// each header block whole (up to its first empty line): a field is recognised only
// at the start of a line and its continuation lines belong to it. The body's mode
// and boundary come from the Content-Type field; parts are delimited by boundary
// lines, nested multiparts are followed up to a fixed depth. The first plain-text
// part that is not attached is the body, stored as UTF-8 text with CR LF line ends;
// without one, the first HTML part gives the body as text. Every other part is an
// attachment holding the bytes that were sent (base64 and quoted-printable undone).

// Files are written only into the given working directory, under sanitised names;
// each finished file is handed to a callback (which adds it to an archive) before
// the next one is written.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class QIODevice;

// Longest piece of a line the decoder holds at once; a longer line is read in pieces.
inline constexpr qint64 kMaxDecoderLinePiece = 64 * 1024;

// What the decoder produces for one message.
struct DecodedMessage {
    QString identifier;          // mail identifier, safe as a file name
    QByteArray from;
    QByteArray subject;
    QByteArray date;
    QByteArray replyTo;          // collected, not stored
    QByteArray rawHeader;        // every header line, each preceded by CR LF
    bool ownMail = false;        // the first text part holds the quorvel marker line
    int attachmentCount = 0;
    QString attachmentList;      // each stored attachment's name followed by ";"

    // The attachment descriptor of the header record: count, five spaces, entries.
    QString descriptor() const;
};

enum class DecodedFileKind { Body, Attachment };

// Called with each finished file (a path inside the working directory) and what it
// is; the callee takes the file over (adds it to an archive, then deletes it).
using DecodedFileSink = std::function<void(const QString &path, DecodedFileKind kind)>;

// Decodes `raw`. `workDir` receives the files (it must exist); `fallbackId` names
// the mail when it has no usable Message-ID (the fetch run passes the unique-id).
// Raises platform::Error when a file cannot be written.
DecodedMessage DecodeMessageStream(QIODevice &raw, const QString &workDir,
                                   const QString &fallbackId, const DecodedFileSink &sink);

// A piece above this size is written to a file, as every piece is by
// DecodeMessageStream: the pieces of a typical text mail (bodies of a few KB) stay
// in memory, anything bigger takes the streaming path.
inline constexpr qint64 kMaxPieceInMemory = 8 * 1024;

// One finished piece of a decoded message (body or attachment): its bytes when they
// were kept in memory, else the file in the working directory that holds them.
struct DecodedPiece {
    QString name;   // bare file name: the member name
    DecodedFileKind kind = DecodedFileKind::Body;
    QString path;   // empty when the bytes are in `data`
    QByteArray data;
    bool inMemory() const { return path.isEmpty(); }
};
using DecodedPieceSink = std::function<void(DecodedPiece &piece)>;

// As DecodeMessageStream, but a piece stays in memory while it is at most
// `maxPieceInMemory` bytes and `memoryBudget` (bytes; what is kept is taken from it)
// allows, so that small mails cost no files. Larger pieces are written to `workDir`,
// which is created when the first of them is; with an empty `workDir` a piece that
// does not fit raises platform::Error.
DecodedMessage DecodeMessagePieces(QIODevice &raw, const QString &workDir,
                                   const QString &fallbackId, qint64 &memoryBudget,
                                   const DecodedPieceSink &sink,
                                   qint64 maxPieceInMemory = kMaxPieceInMemory);
