#pragma once
// The marker line that the text part of every mail posted by quorvel carries; the
// decoder of fetched mail knows quorvel mails by it.

#include <QByteArray>

namespace mime {

inline constexpr char kQuorvelMarker[] = "--=This is a quorvel";

// True for the marker as a line of its own (white space around it allowed): a quoted
// marker ("> --=This is a quorvel") or one inside other text does not count.
inline bool isQuorvelMarkerLine(const QByteArray &line)
{
    return line.trimmed() == kQuorvelMarker;
}

} // namespace mime
