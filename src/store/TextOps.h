#pragma once
// Small text and file operations shared across the program. Store files are bytes
// (what arrives is stored as it arrived), typed text is QString; the text operations
// therefore come in both forms with the same behaviour.

#include <QByteArray>
#include <QBuffer>
#include <QByteArrayList>
#include <QIODevice>
#include <QString>
#include <QStringList>

// When the text contains ".", keeps only what precedes the first one.
void CutAtDot(QString &text);
void CutAtDot(QByteArray &text);

// Drops everything up to and including the first `open`, then keeps what precedes the
// first `close` in the rest; without `open` (or with an empty one) the whole text.
// The result is trimmed of spaces and control characters at both ends.
QString ExtractBetween(const QString &text, const QString &open, const QString &close);
QByteArray ExtractBetween(const QByteArray &text, const QByteArray &open,
                          const QByteArray &close);

// Deletes every occurrence of `piece` (nothing for an empty piece).
void RemoveAll(QString &text, const QString &piece);
void RemoveAll(QByteArray &text, const QByteArray &piece);

// Replaces every occurrence of `piece`, looking again from the start after each
// replacement, so that occurrences formed by a replacement and its neighbours are
// replaced too. When `replacement` contains `piece` (which would never end), or a
// rewrite keeps forming new occurrences without end, the occurrences of the original
// text are replaced in one pass from left to right instead.
QString ReplaceAll(const QString &text, const QString &piece, const QString &replacement);
QByteArray ReplaceAll(const QByteArray &text, const QByteArray &piece,
                      const QByteArray &replacement);

// Trims characters up to and including the space (spaces and control characters).
QString TrimControl(const QString &text);
QByteArray TrimControl(const QByteArray &text);

// The local date and time as "yyyymmddhhnnss".
QString TimeStampName();

// True when `path` names an existing file; otherwise false, and when `show` is set
// `message` is shown as a warning.
bool CheckFileExists(const QString &path, const QString &message, bool show);

// Text read from a store file: UTF-8 when the bytes are valid UTF-8, else Latin-1
// (one character per byte), so nothing is lost or replaced.
QString TextFromStore(const QByteArray &bytes);

// Store text files: CR LF line ends on writing; on reading a line ends at LF and a CR
// before it is dropped. A final line end adds no empty line.
QByteArrayList SplitLines(const QByteArray &content);
QByteArray JoinLines(const QByteArrayList &lines);
QByteArray JoinLines(const QStringList &lines);   // as UTF-8
// A read-only device over bytes in memory, to feed the line parsers.
class ByteSource : public QBuffer {
public:
    explicit ByteSource(const QByteArray &bytes)
    {
        setData(bytes);
        open(QIODevice::ReadOnly);
    }
};

// The next line of `in` without its line end; false at the end of the data.
bool ReadStoreLine(QIODevice &in, QByteArray &line);

// Reads a whole store file; raises platform::Error("Cannot open file " + path) when it
// cannot be read.
QByteArray ReadStoreFile(const QString &path);

// Replaces the store file `path` with `content` atomically (the old or the new content,
// never a part), flushed to disk unless `durable` is false (a batch that syncs once at
// its end); raises platform::Error("Cannot create file " + path) when it cannot be
// written.
void WriteStoreFile(const QString &path, const QByteArray &content, bool durable = true);

// Writes a short-lived file (a copy made only to be added to an archive); raises
// platform::Error("Cannot create file " + path) when it cannot be written.
void WriteTemporaryFile(const QString &path, const QByteArray &content);
