#include "store/MailIdentifier.h"

#include "store/TextOps.h"

#include "platform/Clock.h"
#include "platform/Sanitiser.h"

namespace {

QString safe(const QString &name)
{
    return name.isEmpty() ? name : platform::sanitizeFileName(name);
}

} // namespace

QString MailIdFromMessageId(const QByteArray &messageId)
{
    QByteArray id = ExtractBetween(messageId, "<", ">");
    RemoveAll(id, "[");
    RemoveAll(id, "]");
    id = ReplaceAll(id, "$", "-");
    id = ReplaceAll(id, ".", "-");
    return safe(TextFromStore(id));
}

QString MakeMailName(const QString &name, const QString &emailAddress)
{
    QString result = name == QLatin1String("New Mail")
                         ? platform::now().toString("yyMMddHHmmss") + "." + emailAddress
                         : name;
    result = ReplaceAll(result, ".", "-");
    result = ReplaceAll(result, "=", "-");
    return safe(result);
}

QString MailIdFromPackageName(const QString &fileName)
{
    QString name = platform::bareFileName(fileName);
    CutAtDot(name);
    return safe(ReplaceAll(name, ".", "-"));
}

QString PackageName(const QString &mailId) { return mailId + ".m"; }

QString PackageBodyName(const QString &mailId) { return mailId + ".doc"; }

QString RawMessageFileName(const QString &uniqueId)
{
    return platform::sanitizeFileName("Msg" + uniqueId + ".txt");
}
