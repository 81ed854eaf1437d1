#include "common/ZunEncryption.h"

#include "platform/Clock.h"
#include "platform/Error.h"

#include <QStringDecoder>

// Characters are scrambled as bytes: a password is taken as its UTF-8 bytes, so any
// password a Linux desktop can type round-trips (UTF-8 never holds the bytes 0 and
// 255, which the modulo-255 step could not tell apart).

namespace {

// The sum of a character and the previous value is taken modulo 255, not 256.
constexpr int kModulus = 255;

// The key position starts before the first character and advances before each use,
// wrapping to the first character after the last. An empty key leaves the XOR out.
class KeyCycle {
public:
    explicit KeyCycle(const QByteArray &key) : key_(key) {}
    int next()
    {
        if (key_.isEmpty())
            return 0;
        pos_ = (pos_ + 1) % key_.size();
        return quint8(key_.at(pos_));
    }

private:
    QByteArray key_;
    qsizetype pos_ = -1;
};

QString scramble(const QByteArray &input, const QByteArray &key)
{
    const int start = platform::randomBelow(256);
    QByteArray out;
    out.reserve(2 + 2 * input.size());
    out.append(QByteArray::number(start, 16).rightJustified(2, '0'));
    KeyCycle cycle(key);
    int previous = start;
    for (const char ch : input) {
        int v = (quint8(ch) + previous) % kModulus;
        v ^= cycle.next();
        out.append(QByteArray::number(v, 16).rightJustified(2, '0'));
        previous = v;
    }
    return QString::fromLatin1(out.toUpper());
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

int hexPair(const QString &text, qsizetype at)
{
    const int high = hexDigit(text.at(at));
    const int low = hexDigit(text.at(at + 1));
    if (high < 0 || low < 0)
        throw platform::Error(QString("'%1' is not a valid hexadecimal value").arg(text.mid(at, 2)));
    return high * 16 + low;
}

QString unscramble(const QString &text, const QByteArray &key)
{
    // The starting value and at least one whole pair; an odd digit at the end means
    // the text was cut or damaged.
    if (text.size() < 4 || text.size() % 2 != 0)
        throw platform::Error(QString("'%1' is not a scrambled text").arg(text));
    int previous = hexPair(text, 0);
    KeyCycle cycle(key);
    QByteArray bytes;
    bytes.reserve(text.size() / 2 - 1);
    for (qsizetype at = 2; at < text.size(); at += 2) {
        const int v = hexPair(text, at);
        const int b = v ^ cycle.next();
        bytes.append(char(b > previous ? b - previous : b + kModulus - previous));
        previous = v;
    }
    // A text scrambled from single-byte characters elsewhere need not be UTF-8.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString clear = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : clear;
}

} // namespace

TZunEncryption::TZunEncryption(QObject *parent) : QObject(parent) {}

void TZunEncryption::Execute()
{
    if (FInput.isEmpty()) {
        setOutput(QString());
        return;
    }
    const QByteArray key = FKey.toUtf8();
    setOutput(FAction == atEncryption ? scramble(FInput.toUtf8(), key) : unscramble(FInput, key));
}

QString TZunEncryption::EncryptText(const QString &text)
{
    setAction(atEncryption);
    setInput(text);
    setKey(BuiltInKey());
    Execute();
    return Output();
}

QString TZunEncryption::DecryptText(const QString &text)
{
    setAction(atDecryption);
    setInput(text);
    setKey(BuiltInKey());
    try {
        Execute();
    } catch (...) {
        return QString();
    }
    return Output();
}

QString TZunEncryption::BuiltInKey()
{
    // Four 4-letter pieces cut from one table; setup and the mail program share this
    // routine, so each reads the passwords the other wrote.
    static const char table[] = "kwsnbfyhqdmvoatcegrpzxjuli";
    const QString t = QString::fromLatin1(table);
    return t.mid(19, 4) + t.mid(2, 4) + t.mid(12, 4) + t.mid(7, 4);
}
