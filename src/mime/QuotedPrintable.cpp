#include "mime/QuotedPrintable.h"

#include "mime/HexEscapes.h"

namespace mime {

void decodeQuotedPrintableLine(QByteArrayView line, bool lineEnded, QByteArray &out)
{
    qsizetype end = line.size();
    if (lineEnded) {
        while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t'))
            --end;
    }
    bool soft = false;
    if (lineEnded && end > 0 && line[end - 1] == '=') {
        soft = true;
        --end;
    }
    for (qsizetype i = 0; i < end; ++i) {
        const char c = line[i];
        if (c == '=' && i + 2 < end && detail::hexValue(line[i + 1]) >= 0 && detail::hexValue(line[i + 2]) >= 0) {
            out += char(detail::hexValue(line[i + 1]) << 4 | detail::hexValue(line[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    if (lineEnded && !soft)
        out += "\r\n";
}

} // namespace mime
