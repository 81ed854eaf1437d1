#pragma once
// Base64 encoding (RFC 2045, standard alphabet, "=" padding) for attachments and
// encoded header words.

#include <QByteArray>

namespace net {

// Bytes that make one 60-character line of an encoded attachment.
inline constexpr int kBase64LineBytes = 45;

QByteArray base64Encode(const char *data, qsizetype size);
inline QByteArray base64Encode(const QByteArray &data) { return base64Encode(data.constData(), data.size()); }

} // namespace net
