#pragma once
// The outgoing header of a queued mail (OutboxDir + N + ".hdr", a plain text file):
// the line "SUBJECT", the subject, the line "RECEIPT", then one recipient per line.

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

struct OutgoingHeader {
    QString subject;
    QStringList recipients;

    // Each recipient followed by ";": the text of the "To: " header line.
    QString toText() const;
};

// How far the reader looks for the "SUBJECT" and the "RECEIPT" line.
inline constexpr int kOutgoingHeaderScanLines = 50;

QByteArray FormatOutgoingHeader(const QString &subject, const QStringList &recipients);

// Reads lines until one is exactly "SUBJECT" (at most 50); the next line is the
// subject; then lines until one is exactly "RECEIPT" (at most 50); every further line
// is a recipient.
OutgoingHeader ParseOutgoingHeader(QIODevice &in);
OutgoingHeader ParseOutgoingHeader(const QByteArray &content);

// Writes the outgoing header file `path` (replacing it); raises platform::Error when
// the file cannot be written.
void WriteOutgoingHeader(const QString &path, const QString &subject,
                         const QStringList &recipients);
// Reads the outgoing header file `path`; raises platform::Error when it cannot be read.
OutgoingHeader ReadOutgoingHeader(const QString &path);
