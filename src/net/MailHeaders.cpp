#include "net/MailHeaders.h"

#include "platform/Clock.h"

#include <QStringList>
#include <atomic>

namespace net {

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

QByteArray encodeAddressList(const QString &addresses)
{
    QByteArrayList parts;
    for (const QString &piece : addresses.split(u';')) {
        if (!piece.trimmed().isEmpty())
            parts.append(mime::encodeAddress(piece));
    }
    return parts.join(", ");
}

} // namespace net
