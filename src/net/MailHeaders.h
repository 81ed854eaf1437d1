#pragma once
// Header fields of outgoing mail in the forms receiving servers and clients expect:
// the RFC 5322 date, a unique Message-ID, RFC 2047 encoded words for text that is
// not plain ASCII, and address lists separated by ", ".

#include "mime/EncodedWords.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace net {

// "Sun, 06 Dec 1998 14:23:05 +0100": English names, local time with its offset.
QByteArray rfc5322Date(const QDateTime &localTime);

// "<time.counter.random@host>", unique for every call in this process and across
// processes (the random part).
QByteArray newMessageId(const QDateTime &localTime, const QString &host);

// Encoded words and single addresses come from mime/.
using mime::encodeAddress;
using mime::encodeHeaderText;

// Addresses separated by ";" (the outbox's To text), as "a, b".
QByteArray encodeAddressList(const QString &addresses);

} // namespace net
