#pragma once
// Base64 (RFC 2045, standard alphabet, "=" padding): the encoder of attachments and
// encoded words, and the one streaming decoder of fetched parts and encoded words.

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

namespace mime {

// Bytes that make one 60-character line of an encoded attachment.
inline constexpr int kBase64LineBytes = 45;

QByteArray base64Encode(const char *data, qsizetype size);
inline QByteArray base64Encode(const QByteArray &data) { return base64Encode(data.constData(), data.size()); }

// `data` as attachment lines of 60 characters (45 bytes each, the last one shorter),
// without line ends; no data gives one empty line.
QByteArrayList base64EncodeLines(const QByteArray &data);

// Decodes base64 as a stream fed in any pieces (lines, chunks): characters are
// collected across pieces, white space and characters outside the alphabet are
// ignored, and a group cut by a piece's end continues in the next one. A pad ends
// the current group: two characters give one byte, three give two.
class Base64Decoder {
public:
    // Decodes what `size` bytes at `data` complete and appends the bytes to `out`.
    void feed(const char *data, qsizetype size, QByteArray &out);
    void DecodeBase64Line(QByteArrayView line, QByteArray &out) { feed(line.data(), line.size(), out); }
    // Flushes a trailing group of two or three characters (missing padding).
    void finish(QByteArray &out);

private:
    quint32 bits_ = 0;
    int count_ = 0;
};

// The whole of `text` through the stream decoder.
QByteArray base64Decode(QByteArrayView text);

} // namespace mime
