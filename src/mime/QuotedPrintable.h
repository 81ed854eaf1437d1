#pragma once
// Quoted-printable (RFC 2045) decoding of fetched parts, one encoded line at a time.

#include <QByteArray>
#include <QByteArrayView>

namespace mime {

// Appends the bytes of one encoded line (given without its line end) to `out`: "=" and
// two hex digits make a byte, white space at the end of a line is dropped (mail
// transport may add it), a line ending in "=" joins the next one (a soft break), any
// other ended line ends in CR LF. `lineEnded` is false for a piece of a line too long
// to be held at once; such a piece is decoded without a line end of its own. An "="
// without two hex digits after it stays as it is.
void decodeQuotedPrintableLine(QByteArrayView line, bool lineEnded, QByteArray &out);

} // namespace mime
