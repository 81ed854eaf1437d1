#include "store/AttachmentDescriptor.h"

#include "store/TextOps.h"

#include "platform/Sanitiser.h"

QByteArray FormatAttachmentDescriptor(int count, const QStringList &entries)
{
    QByteArray out = QByteArray::number(count) + kDescriptorGap;
    for (const QString &entry : entries)
        out += entry.toUtf8() + ';';
    return out;
}

int DescriptorCount(const QByteArray &descriptor)
{
    const qsizetype space = descriptor.indexOf(' ');
    return descriptor.left(space < 0 ? descriptor.size() : space).toInt();
}

QString DescriptorEntryList(const QByteArray &descriptor)
{
    const qsizetype space = descriptor.indexOf(' ');
    return space < 0 ? QString() : TrimControl(TextFromStore(descriptor.mid(space + 1)));
}

QStringList DescriptorEntries(const QByteArray &descriptor)
{
    return SplitEntries(DescriptorEntryList(descriptor));
}

QString DescriptorPackageName(const QByteArray &descriptor)
{
    return TextFromStore(ExtractBetween(descriptor, " ", ";"));
}

QStringList DescriptorEntriesAfterPackage(const QByteArray &descriptor)
{
    const qsizetype semicolon = descriptor.indexOf(';');
    return semicolon < 0 ? QStringList() : SplitEntries(TextFromStore(descriptor.mid(semicolon + 1)));
}

QStringList SplitEntries(const QString &list)
{
    QStringList entries = list.split(';');
    entries.removeLast();
    return entries;
}

bool IsMemberName(const QString &entry)
{
    return !entry.isEmpty() && platform::sanitizeFileName(entry) == entry;
}
