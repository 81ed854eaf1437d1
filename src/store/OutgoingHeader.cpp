#include "store/OutgoingHeader.h"

#include "store/TextOps.h"


QString OutgoingHeader::toText() const
{
    QString to;
    for (const QString &r : recipients)
        to += r + ';';
    return to;
}

namespace {

// One line of the subject or a recipient: a line break would split it in two.
QString oneLine(QString text)
{
    text.replace('\r', ' ');
    text.replace('\n', ' ');
    return text;
}

} // namespace

QByteArray FormatOutgoingHeader(const QString &subject, const QStringList &recipients)
{
    QStringList lines{"SUBJECT", oneLine(subject), "RECEIPT"};
    for (const QString &r : recipients)
        lines += oneLine(r);
    return JoinLines(lines);
}

OutgoingHeader ParseOutgoingHeader(QIODevice &in)
{
    OutgoingHeader header;
    QByteArray line;
    auto skipTo = [&](const QByteArray &marker) {
        for (int n = 0; n < kOutgoingHeaderScanLines && ReadStoreLine(in, line); ++n) {
            if (line == marker)
                return;
        }
    };
    skipTo("SUBJECT");
    if (ReadStoreLine(in, line))
        header.subject = TextFromStore(line);
    skipTo("RECEIPT");
    while (ReadStoreLine(in, line))
        header.recipients += TextFromStore(line);
    return header;
}

OutgoingHeader ParseOutgoingHeader(const QByteArray &content)
{
    ByteSource in(content);
    return ParseOutgoingHeader(in);
}

void WriteOutgoingHeader(const QString &path, const QString &subject,
                         const QStringList &recipients)
{
    WriteStoreFile(path, FormatOutgoingHeader(subject, recipients));
}

OutgoingHeader ReadOutgoingHeader(const QString &path)
{
    return ParseOutgoingHeader(ReadStoreFile(path));
}
