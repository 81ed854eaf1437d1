#include "platform/CaseResolver.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace platform {

namespace {

// An entry of `dir` whose name equals `name` but for letter case, or empty.
QString caseVariant(const QString &dir, const QString &name)
{
    QDir d(dir.isEmpty() ? QStringLiteral("/") : dir);
    const QStringList entries = d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                | QDir::NoDotAndDotDot,
                                            QDir::Name);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return {};
}

} // namespace

QString resolveCase(const QString &path)
{
    if (path.isEmpty() || QFileInfo::exists(path))
        return path;

    const bool absolute = path.startsWith('/');
    const bool trailingSlash = path.endsWith('/') && path.size() > 1;
    const QStringList parts = path.split('/', Qt::SkipEmptyParts);

    QString resolved = absolute ? QString() : QString();
    bool missing = false;   // once a directory is missing, nothing below it can match
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts[i];
        QString candidate = (resolved.isEmpty() && !absolute) ? part : resolved + '/' + part;
        if (!missing && part != QLatin1String(".") && part != QLatin1String("..")
            && !QFileInfo::exists(candidate)) {
            const QString dir = resolved.isEmpty() ? (absolute ? QStringLiteral("/") : QStringLiteral("."))
                                                   : resolved;
            const QString variant = caseVariant(dir, part);
            if (variant.isEmpty())
                missing = true;
            else
                candidate = (resolved.isEmpty() && !absolute) ? variant : resolved + '/' + variant;
        }
        resolved = candidate;
    }
    if (resolved.isEmpty())
        resolved = absolute ? QStringLiteral("/") : QString();
    if (trailingSlash)
        resolved += '/';
    return resolved;
}

} // namespace platform
