#include "platform/Sanitiser.h"

namespace platform {

namespace {

QString shortenToBytes(const QString &name, int maxBytes)
{
    if (name.toUtf8().size() <= maxBytes)
        return name;
    // Keep a short extension (up to 16 characters after the last ".") when there is one.
    QString extension;
    const int dot = name.lastIndexOf('.');
    if (dot > 0 && name.size() - dot <= 16)
        extension = name.mid(dot);
    QString stem = name.left(dot > 0 && !extension.isEmpty() ? dot : name.size());
    const int budget = maxBytes - int(extension.toUtf8().size());
    while (!stem.isEmpty() && stem.toUtf8().size() > budget) {
        stem.chop(1);
        // Never leave half of a surrogate pair behind.
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem + extension;
}

} // namespace

QString sanitizeFileName(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("_");
    if (name == QLatin1String("."))
        return QStringLiteral("_");
    if (name == QLatin1String(".."))
        return QStringLiteral("__");

    QString safe = name;
    for (QChar &c : safe) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20
            || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    }
    if (safe.startsWith('-'))
        safe[0] = QLatin1Char('_');
    safe = shortenToBytes(safe, kMaxFileNameBytes);
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QStringLiteral("_");
    return safe;
}

QString bareFileName(const QString &path)
{
    const int cut = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    return sanitizeFileName(cut >= 0 ? path.mid(cut + 1) : path);
}

} // namespace platform
