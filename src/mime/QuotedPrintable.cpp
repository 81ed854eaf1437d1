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
    detail::appendHexUnescaped(line.first(end), '=', out);
    if (lineEnded && !soft)
        out += "\r\n";
}

} // namespace mime
