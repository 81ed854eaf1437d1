#pragma once
// A MIME header field value with parameters, such as
//   multipart/mixed; boundary="x"; name*0*=utf-8''a%20b; name*1=c
// split into its value and its parameters: quoted strings with backslash escapes,
// names in any case, RFC 2231 sections joined in order and percent-decoded.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace mime {

struct MimeParameter {
    QByteArray name;       // lower case, without an RFC 2231 section number or "*"
    QByteArray value;      // the bytes: unquoted; RFC 2231 sections joined and percent-decoded
    QByteArray charset;    // the charset an RFC 2231 value names; empty otherwise
    bool rfc2231 = false;  // written as name*=, or in numbered sections

    // The value as text: an RFC 2231 value through its charset (UTF-8 when it names
    // none or one Qt does not know), a plain one with its encoded words decoded, as
    // real mailers put them into quoted names.
    QString text() const;
};

struct MimeField {
    QByteArray value;                 // the text before the first ";", trimmed
    QList<MimeParameter> parameters;  // in order of first appearance; of a name given
                                      // twice in one form the first counts

    // The parameter `name` (any case): the plain form when it has a value, else the
    // RFC 2231 form, else the empty plain one; null when there is none.
    const MimeParameter *parameter(QByteArrayView name) const;
    // Its bytes or its text; empty when there is none.
    QByteArray rawParameter(QByteArrayView name) const;
    QString textParameter(QByteArrayView name) const;
};

MimeField parseMimeField(QByteArrayView fieldValue);

} // namespace mime
