#include "mime/TextCharset.h"

#include <QString>

namespace mime {

namespace {

// The length of the longest prefix of `s` made of whole, valid UTF-8 sequences. Stops
// early and clears `valid` at a byte that cannot start or continue a sequence; a
// sequence cut by the end of `s` is left out and counts as valid.
qsizetype wholeUtf8(QByteArrayView s, bool &valid)
{
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const uchar c = uchar(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        uchar low = 0x80, high = 0xBF;   // the second byte's range, narrower where
                                         // overlong forms and surrogates would begin
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            valid = false;
            return i;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= n)
                return i;
            const uchar d = uchar(s[i + k]);
            if (d < (k == 1 ? low : 0x80) || d > (k == 1 ? high : 0xBF)) {
                valid = false;
                return i;
            }
        }
        i += length;
    }
    return i;
}

QStringDecoder windows1252()
{
    QStringDecoder decoder("windows-1252");
    return decoder.isValid() ? std::move(decoder) : QStringDecoder(QStringDecoder::Latin1);
}

} // namespace

TextToUtf8::TextToUtf8(QByteArrayView charset) : fallback_(windows1252())
{
    const QByteArray name = charset.trimmed().toByteArray().left(kMaxCharsetName).toLower();
    if (name.isEmpty() || name == "us-ascii" || name == "ascii" || name == "ansi_x3.4-1968"
        || name == "utf-8" || name == "utf8")
        return;   // kept as UTF-8 while it is valid
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "latin-1") {
        decoder_ = windows1252();
        mode_ = Mode::Convert;
        return;
    }
    if (!name.contains('\0')) {
        QStringDecoder named(name.constData());
        if (named.isValid()) {
            decoder_ = std::move(named);
            mode_ = Mode::Convert;
        }
    }
}

void TextToUtf8::decodeWith(QStringDecoder &decoder, QByteArrayView bytes, QByteArray &out)
{
    const QString text = decoder.decode(bytes);
    appendLines(text.toUtf8(), out);
}

void TextToUtf8::feed(QByteArrayView bytes, QByteArray &out)
{
    switch (mode_) {
    case Mode::Convert:
        decodeWith(decoder_, bytes, out);
        return;
    case Mode::Windows1252:
        decodeWith(fallback_, bytes, out);
        return;
    case Mode::KeepUtf8:
        break;
    }
    QByteArray joined;
    if (!pending_.isEmpty()) {
        joined = pending_ + bytes.toByteArray();
        bytes = joined;
        pending_.clear();
    }
    bool valid = true;
    const qsizetype whole = wholeUtf8(bytes, valid);
    appendLines(bytes.first(whole), out);
    if (!valid) {
        mode_ = Mode::Windows1252;
        decodeWith(fallback_, bytes.sliced(whole), out);
    } else {
        pending_ = bytes.sliced(whole).toByteArray();
    }
}

void TextToUtf8::finish(QByteArray &out)
{
    if (!pending_.isEmpty()) {
        decodeWith(fallback_, pending_, out);
        pending_.clear();
    }
    if (afterCr_) {
        out += '\n';
        afterCr_ = false;
    }
}

void TextToUtf8::appendLines(QByteArrayView utf8, QByteArray &out)
{
    const char *p = utf8.data();
    const char *const end = p + utf8.size();
    while (p < end) {
        if (afterCr_) {
            // CR LF, or a lone CR that gets its LF.
            out += '\n';
            afterCr_ = false;
            if (*p == '\n') {
                ++p;
                continue;
            }
        }
        // Runs without line ends are copied whole.
        const char *q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        out.append(p, q - p);
        if (q == end)
            break;
        out += '\r';
        afterCr_ = *q == '\r';
        if (*q == '\n')
            out += '\n';
        p = q + 1;
    }
}

} // namespace mime
