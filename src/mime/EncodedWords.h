#pragma once
// RFC 2047 encoded words both ways: outgoing header text and addresses encoded as
// UTF-8 words, and fetched header values decoded for display.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace mime {

// Longest encoded word the decoder accepts. The standard's limit is 75 characters;
// real mailers write longer ones, but a "=?" that runs on for longer than a line is
// text, and the bound keeps a hostile value from costing more than a linear scan.
inline constexpr int kMaxEncodedWordLength = 998;

// Plain ASCII text as it is; anything else as UTF-8 encoded words of at most 75
// characters, folded onto continuation lines. Line breaks become spaces.
QByteArray encodeHeaderText(const QString &text);

// One address, "Name <user@host>" or "user@host": a display name that is not plain
// ASCII is encoded, one with special characters (or given quoted) is quoted.
QByteArray encodeAddress(const QString &address);

// A header value with its encoded words ("=?charset?B|Q?text?=") decoded. White space
// between two adjacent encoded words is dropped, and adjacent words of one charset
// are decoded together, so a character split between them survives. A malformed
// word, or one in a charset Qt does not know, is kept as it is. Text outside encoded
// words is read as UTF-8.
QString decodeHeaderText(QByteArrayView value);

} // namespace mime
