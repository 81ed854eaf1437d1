#include "mime/Base64.h"

#include <algorithm>
#include <array>

namespace mime {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Values of the decoder's input bytes: 0 to 63 for the alphabet, else a mark. Both
// marks have a bit above the low six set, so that one test tells a whole group of
// four alphabet characters.
constexpr quint8 kSkip = 0x40;
constexpr quint8 kPad = 0x80;

constexpr std::array<quint8, 256> kValues = [] {
    std::array<quint8, 256> values{};
    values.fill(kSkip);
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kAlphabet[i])] = quint8(i);
    values['='] = kPad;
    return values;
}();

} // namespace

QByteArray base64Encode(const char *data, qsizetype size)
{
    const auto *in = reinterpret_cast<const unsigned char *>(data);
    QByteArray out;
    out.resize((size + 2) / 3 * 4);
    char *o = out.data();
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (const qsizetype rest = size - i; rest > 0) {
        const unsigned v = unsigned(in[i]) << 16 | (rest == 2 ? unsigned(in[i + 1]) << 8 : 0u);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

QByteArrayList base64EncodeLines(const QByteArray &data)
{
    QByteArrayList lines;
    qsizetype at = 0;
    do {
        const qsizetype n = std::min<qsizetype>(kBase64LineBytes, data.size() - at);
        lines.append(base64Encode(data.constData() + at, n));
        at += n;
    } while (at < data.size());
    return lines;
}

void Base64Decoder::feed(const char *data, qsizetype size, QByteArray &out)
{
    const qsizetype start = out.size();
    // At most three bytes for every four characters, counting those held over.
    out.resize(start + (size + count_) / 4 * 3 + 3);
    char *o = out.data() + start;
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const auto *const end = p + size;
    quint32 bits = bits_;
    int count = count_;
    while (p < end) {
        if (count == 0) {
            // The common case: whole groups of four alphabet characters.
            while (end - p >= 4) {
                const quint32 a = kValues[p[0]], b = kValues[p[1]], c = kValues[p[2]], d = kValues[p[3]];
                if ((a | b | c | d) & (kSkip | kPad))
                    break;
                const quint32 v = a << 18 | b << 12 | c << 6 | d;
                o[0] = char(v >> 16);
                o[1] = char(v >> 8);
                o[2] = char(v);
                o += 3;
                p += 4;
            }
            if (p == end)
                break;
        }
        const quint8 v = kValues[*p++];
        if (v == kSkip)
            continue;
        if (v == kPad) {
            if (count == 2) {
                *o++ = char(bits >> 4);
            } else if (count == 3) {
                *o++ = char(bits >> 10);
                *o++ = char(bits >> 2);
            }
            bits = 0;
            count = 0;
            continue;
        }
        bits = bits << 6 | v;
        if (++count == 4) {
            o[0] = char(bits >> 16);
            o[1] = char(bits >> 8);
            o[2] = char(bits);
            o += 3;
            bits = 0;
            count = 0;
        }
    }
    bits_ = bits;
    count_ = count;
    out.resize(o - out.constData());
}

void Base64Decoder::finish(QByteArray &out)
{
    feed("=", 1, out);
}

QByteArray base64Decode(QByteArrayView text)
{
    QByteArray out;
    Base64Decoder decoder;
    decoder.feed(text.data(), text.size(), out);
    decoder.finish(out);
    return out;
}

} // namespace mime
