#pragma once
// Byte helpers that the header codecs share: white space of header fields, and the
// hex escapes of Q-encoded words ("=E9") and RFC 2231 values ("%E9").

#include <QByteArray>
#include <QByteArrayView>

namespace mime::detail {

inline bool isHeaderSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Appends `text` to `out` with every `escape` and two hex digits turned into that
// byte; an escape without two hex digits after it stays as it is.
inline void appendHexUnescaped(QByteArrayView text, char escape, QByteArray &out)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == escape && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
}

inline QByteArray hexUnescaped(QByteArrayView text, char escape)
{
    QByteArray out;
    out.reserve(text.size());
    appendHexUnescaped(text, escape, out);
    return out;
}

} // namespace mime::detail
