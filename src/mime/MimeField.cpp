#include "mime/MimeField.h"

#include "mime/EncodedWords.h"
#include "mime/HexEscapes.h"

#include <QHash>
#include <QMap>
#include <QStringDecoder>

#include <algorithm>

namespace mime {

namespace {

// An RFC 2231 section number has at most this many digits; a longer one makes the
// parameter unusable rather than a huge gap in the sections.
constexpr int kMaxSectionDigits = 4;

struct Section {
    bool extended = false;  // percent-encoded, the first one with its charset'language' prefix
    QByteArray bytes;
};

// Collects the parameters as they are read, then joins the RFC 2231 sections.
class Collector {
public:
    explicit Collector(MimeField &field) : field_(field) {}

    void add(QByteArray name, QByteArray value)
    {
        name = name.toLower();
        const bool extended = name.endsWith('*');
        if (extended)
            name.chop(1);
        int number = 0;
        const qsizetype star = name.lastIndexOf('*');
        if (star >= 0) {
            const QByteArray digits = name.mid(star + 1);
            bool ok = !digits.isEmpty() && digits.size() <= kMaxSectionDigits;
            for (char c : digits)
                ok = ok && c >= '0' && c <= '9';
            if (!ok)
                return;
            number = digits.toInt();
            name.truncate(star);
        }
        if (name.isEmpty())
            return;
        if (!extended && star < 0) {
            if (!plainAt_.contains(name)) {
                plainAt_.insert(name, field_.parameters.size());
                field_.parameters.append({name, value, {}, false});
            }
            return;
        }
        if (!sections_.contains(name)) {
            sectionsAt_.insert(name, field_.parameters.size());
            field_.parameters.append({name, {}, {}, true});
        }
        QMap<int, Section> &sections = sections_[name];
        if (!sections.contains(number))
            sections.insert(number, {extended, value});
    }

    // Sections are joined in the order of their numbers, wherever they stood; a
    // missing section leaves a gap rather than losing the ones after it.
    void finish()
    {
        for (auto it = sectionsAt_.cbegin(); it != sectionsAt_.cend(); ++it) {
            MimeParameter &parameter = field_.parameters[it.value()];
            const QMap<int, Section> &sections = sections_[it.key()];
            for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
                QByteArrayView piece = s->bytes;
                if (!s->extended) {
                    parameter.value += piece;
                    continue;
                }
                if (s.key() == 0) {
                    const qsizetype q1 = piece.indexOf('\'');
                    const qsizetype q2 = q1 < 0 ? -1 : piece.indexOf('\'', q1 + 1);
                    if (q2 >= 0) {
                        parameter.charset = piece.first(q1).toByteArray();
                        piece = piece.sliced(q2 + 1);
                    }
                }
                parameter.value += detail::hexUnescaped(piece, '%');
            }
        }
    }

private:
    MimeField &field_;
    QHash<QByteArray, qsizetype> plainAt_;
    QHash<QByteArray, qsizetype> sectionsAt_;
    QHash<QByteArray, QMap<int, Section>> sections_;
};

} // namespace

QString MimeParameter::text() const
{
    if (!rfc2231)
        return decodeHeaderText(value);
    QStringDecoder decoder(charset.isEmpty() ? "UTF-8" : charset.constData());
    return decoder.isValid() ? decoder.decode(value) : QString::fromUtf8(value);
}

const MimeParameter *MimeField::parameter(QByteArrayView name) const
{
    const MimeParameter *plain = nullptr, *extended = nullptr;
    for (const MimeParameter &p : parameters) {
        if (p.name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (p.rfc2231)
            extended = &p;
        else
            plain = &p;
    }
    if (plain && !plain->value.isEmpty())
        return plain;
    return extended ? extended : plain;
}

QByteArray MimeField::rawParameter(QByteArrayView name) const
{
    const MimeParameter *p = parameter(name);
    return p ? p->value : QByteArray();
}

QString MimeField::textParameter(QByteArrayView name) const
{
    const MimeParameter *p = parameter(name);
    return p ? p->text() : QString();
}

MimeField parseMimeField(QByteArrayView in)
{
    MimeField field;
    qsizetype i = in.indexOf(';');
    if (i < 0)
        i = in.size();
    // A parameter whose ";" the sender left out ("attachment filename=a") still counts:
    // the value itself never holds a "=".
    if (const qsizetype eq = in.first(i).indexOf('='); eq >= 0) {
        i = eq;
        while (i >= 0 && !detail::isHeaderSpace(in[i]))
            --i;
    }
    field.value = in.first(std::max<qsizetype>(i, 0)).trimmed().toByteArray();
    Collector collector(field);
    const qsizetype n = in.size();
    // Here i is at a ";" (or the white space before a parameter) or at the end.
    while (i < n) {
        ++i;
        const qsizetype nameStart = i;
        while (i < n && in[i] != '=' && in[i] != ';')
            ++i;
        if (i == n || in[i] == ';')
            continue;   // a token without "=" is no parameter
        const QByteArray name = in.sliced(nameStart, i - nameStart).trimmed().toByteArray();
        ++i;
        while (i < n && detail::isHeaderSpace(in[i]))
            ++i;
        QByteArray value;
        if (i < n && in[i] == '"') {
            ++i;
            while (i < n && in[i] != '"') {
                if (in[i] == '\\' && i + 1 < n)
                    ++i;
                value += in[i++];
            }
            if (i == n)
                value = value.trimmed();   // an unclosed quote runs to the end
            // Whatever follows the closing quote up to the next ";" is not part of it.
            const qsizetype semi = in.indexOf(';', i);
            i = semi < 0 ? n : semi;
        } else {
            const qsizetype semi = in.indexOf(';', i);
            const qsizetype end = semi < 0 ? n : semi;
            value = in.sliced(i, end - i).trimmed().toByteArray();
            i = end;
        }
        if (!name.isEmpty())
            collector.add(name, value);
    }
    collector.finish();
    return field;
}

} // namespace mime
