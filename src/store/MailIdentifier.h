#pragma once
// Mail identifiers: the names under which one mail's files and archive members are
// stored. Every identifier made here is already a safe bare file name.

#include <QByteArray>
#include <QString>

// The identifier of a fetched mail from the value of its Message-ID field: the text
// between the first "<" and the next ">", trimmed, without "[" and "]", with "$" and
// "." turned into "-". Empty when the value yields nothing (no usable Message-ID).
QString MailIdFromMessageId(const QByteArray &messageId);

// The editor's mail name: for exactly "New Mail" the local time as "yymmddhhnnss",
// ".", and `emailAddress`; otherwise `name`. Then every "." becomes "-", and so does
// every "=", which would end the name early in a queue line.
QString MakeMailName(const QString &name, const QString &emailAddress);

// The identifier of a mail package opened from disk: its file name (any directory
// dropped) up to the first ".".
QString MailIdFromPackageName(const QString &fileName);

// The mail package of mail `mailId`: mailId + ".m"; its body member: mailId + ".doc".
QString PackageName(const QString &mailId);
QString PackageBodyName(const QString &mailId);

// The raw message file of the message with POP3 unique-id `uniqueId`:
// "Msg" + uniqueId + ".txt", made safe as a file name.
QString RawMessageFileName(const QString &uniqueId);
