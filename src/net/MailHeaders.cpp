#include "net/MailHeaders.h"

#include "net/Base64.h"
#include "platform/Clock.h"

#include <QStringList>
#include <atomic>

namespace net {

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

} // namespace

QByteArray rfc5322Date(const QDateTime &localTime)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    const int offset = localTime.offsetFromUtc() / 60;
    const int magnitude = offset < 0 ? -offset : offset;
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8%9%10")
        .arg(QLatin1String(days[date.dayOfWeek() - 1]))
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(months[date.month() - 1]))
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(time.hour(), 2, 10, QLatin1Char('0'))
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'))
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
        .arg(magnitude % 60, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

QByteArray newMessageId(const QDateTime &localTime, const QString &host)
{
    static std::atomic<int> counter{0};
    QByteArray domain;
    for (char c : host.toUtf8())
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.')
            domain += c;
    if (domain.isEmpty())
        domain = "localhost";
    return "<" + localTime.toString(QStringLiteral("yyyyMMddhhmmsszzz")).toLatin1() + "." +
           QByteArray::number(++counter) + "." + QByteArray::number(platform::randomBelow(0x7fffffff), 36) + "@" +
           domain + ">";
}

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

QByteArray encodeAddressList(const QString &addresses)
{
    QByteArrayList parts;
    for (const QString &piece : addresses.split(u';')) {
        if (!piece.trimmed().isEmpty())
            parts.append(encodeAddress(piece));
    }
    return parts.join(", ");
}

} // namespace net
