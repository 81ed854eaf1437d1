#include "net/Base64.h"

namespace net {

QByteArray base64Encode(const char *data, qsizetype size)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto *in = reinterpret_cast<const unsigned char *>(data);
    QByteArray out;
    out.resize((size + 2) / 3 * 4);
    char *o = out.data();
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
        *o++ = alphabet[v >> 18];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = alphabet[(v >> 6) & 63];
        *o++ = alphabet[v & 63];
    }
    if (const qsizetype rest = size - i; rest > 0) {
        const unsigned v = unsigned(in[i]) << 16 | (rest == 2 ? unsigned(in[i + 1]) << 8 : 0u);
        *o++ = alphabet[v >> 18];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

} // namespace net
