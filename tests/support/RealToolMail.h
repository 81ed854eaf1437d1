#pragma once
// The sample messages written by real mail tools (tests/store/data, made by
// make-fixtures.py there) and what a reader of each must get: the body text as the
// sender wrote it and each attachment's bytes, under the decoder's part names. The
// decoder's tests and the fetch tests against the real server share this table.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace testsupport {

struct RealToolMail {
    QString file;
    QByteArray subject;
    QByteArray body;
    // Name the decoder gives the part (before any renaming in a folder), bytes.
    QList<QPair<QString, QByteArray>> attachments;
};

// The bytes of the sample message `name`.
QByteArray realToolMailFile(const QString &name);

// One mail of every common kind: nested alternative and related parts, quoted-printable
// and base64 text, other charsets, HTML only, swaks, mpack, a forwarded message.
QList<RealToolMail> realToolMails();

} // namespace testsupport
