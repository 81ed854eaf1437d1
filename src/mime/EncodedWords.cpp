#include "mime/EncodedWords.h"

#include "mime/Base64.h"
#include "mime/HexEscapes.h"

#include <QStringDecoder>

#include <algorithm>

namespace mime {

namespace {

// Bytes of UTF-8 per encoded word: "=?UTF-8?B?" + 60 characters + "?=" is 72.
constexpr int kWordBytes = 45;

bool isPlainAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 127 || (c.unicode() < 32 && c != u'\t'))
            return false;
    return true;
}

QString withoutLineBreaks(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

bool needsQuoting(const QString &name)
{
    static const QString specials = QStringLiteral("()<>[]:;@\\,.\"");
    for (QChar c : name)
        if (specials.contains(c))
            return true;
    return false;
}

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

bool isWhiteSpace(QByteArrayView text)
{
    for (char c : text)
        if (!detail::isHeaderSpace(c))
            return false;
    return true;
}

// Printable ASCII without space and "?": what charset names and encoded text are made of.
bool isWordChar(char c) { return c > ' ' && c < 127 && c != '?'; }

// Q encoding: "_" is a space (a literal one is "=5F"), "=" and two hex digits a byte.
QByteArray decodeQ(QByteArrayView text)
{
    QByteArray spaced = text.toByteArray();
    spaced.replace('_', ' ');
    return detail::hexUnescaped(spaced, '=');
}

bool isBase64Text(QByteArrayView text)
{
    for (char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+'
              || c == '/' || c == '='))
            return false;
    return true;
}

struct Word {
    QByteArray charset;
    QByteArray bytes;
    qsizetype end = 0;   // just after its "?="
};

// Reads the encoded word that starts with the "=?" at `at`; false when there is none.
bool parseWord(QByteArrayView value, qsizetype at, Word &word)
{
    const qsizetype limit = std::min(value.size(), at + kMaxEncodedWordLength);
    qsizetype i = at + 2;
    while (i < limit && isWordChar(value[i]))
        ++i;
    if (i + 3 >= limit || value[i] != '?' || value[i + 2] != '?')
        return false;
    QByteArray charset = value.sliced(at + 2, i - at - 2).toByteArray();
    // An RFC 2231 language ("utf-8*en") says nothing about the bytes.
    if (const qsizetype star = charset.indexOf('*'); star >= 0)
        charset.truncate(star);
    const char encoding = value[i + 1];
    const qsizetype textStart = i + 3;
    i = textStart;
    while (i < limit && isWordChar(value[i]))
        ++i;
    if (i + 1 >= limit || value[i] != '?' || value[i + 1] != '=' || charset.isEmpty())
        return false;
    const QByteArrayView text = value.sliced(textStart, i - textStart);
    if (encoding == 'B' || encoding == 'b') {
        if (!isBase64Text(text))
            return false;
        word.bytes = base64Decode(text);
    } else if (encoding == 'Q' || encoding == 'q') {
        word.bytes = decodeQ(text);
    } else {
        return false;
    }
    if (!QStringDecoder(charset.constData()).isValid())
        return false;
    word.charset = charset;
    word.end = i + 2;
    return true;
}

} // namespace

QByteArray encodeHeaderText(const QString &text)
{
    const QString clean = withoutLineBreaks(text);
    if (isPlainAscii(clean))
        return clean.toLatin1();
    QByteArray out, word;
    auto flush = [&] {
        if (word.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + base64Encode(word) + "?=";
        word.clear();
    };
    // Whole characters only: a word never ends inside a UTF-8 sequence.
    for (qsizetype i = 0; i < clean.size();) {
        const qsizetype width = clean[i].isHighSurrogate() && i + 1 < clean.size() ? 2 : 1;
        const QByteArray bytes = clean.mid(i, width).toUtf8();
        if (word.size() + bytes.size() > kWordBytes)
            flush();
        word += bytes;
        i += width;
    }
    flush();
    return out;
}

QByteArray encodeAddress(const QString &address)
{
    const QString text = withoutLineBreaks(address).trimmed();
    const qsizetype open = text.lastIndexOf(u'<');
    if (open < 0 || !text.endsWith(u'>'))
        return text.toUtf8();
    QString name = text.left(open).trimmed();
    const QByteArray angle = text.mid(open).toUtf8();
    if (name.isEmpty())
        return angle;
    const bool wasQuoted = name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"');
    if (wasQuoted)
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("\\\""), QStringLiteral("\""));
    QByteArray phrase;
    if (!isPlainAscii(name))
        phrase = encodeHeaderText(name);
    else if (wasQuoted || needsQuoting(name))
        phrase = quoted(name);
    else
        phrase = name.toLatin1();
    return phrase + " " + angle;
}

QString decodeHeaderText(QByteArrayView value)
{
    QString out;
    // Adjacent words of one charset are collected here and decoded together.
    QByteArray pendingCharset, pendingBytes;
    auto flushWords = [&] {
        if (pendingCharset.isEmpty())
            return;
        out += QStringDecoder(pendingCharset.constData()).decode(pendingBytes);
        pendingCharset.clear();
        pendingBytes.clear();
    };
    bool afterWord = false;
    qsizetype textStart = 0;   // plain text not yet added starts here
    qsizetype pos = 0;
    Word word;
    while (true) {
        const qsizetype at = value.indexOf("=?", pos);
        if (at < 0)
            break;
        if (!parseWord(value, at, word)) {
            pos = at + 1;
            continue;
        }
        const QByteArrayView between = value.sliced(textStart, at - textStart);
        if (!afterWord || !isWhiteSpace(between)) {
            flushWords();
            out += QString::fromUtf8(between);
        }
        if (pendingCharset.compare(word.charset, Qt::CaseInsensitive) != 0)
            flushWords();
        pendingCharset = word.charset;
        pendingBytes += word.bytes;
        afterWord = true;
        pos = textStart = word.end;
    }
    flushWords();
    out += QString::fromUtf8(value.sliced(textStart));
    return out;
}

} // namespace mime
