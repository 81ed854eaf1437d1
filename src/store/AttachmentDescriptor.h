#pragma once
// The attachment descriptor, the value of a header record's "ATTACH:" field: a decimal
// count, five spaces, then the entries, each followed by ";". For a quorvel mail the
// first entry is the mail package. Entries are kept in the record as UTF-8.

#include <QByteArray>
#include <QString>
#include <QStringList>

// The five spaces between the count and the entries.
inline constexpr char kDescriptorGap[] = "     ";

// count + five spaces + each entry followed by ";".
QByteArray FormatAttachmentDescriptor(int count, const QStringList &entries);

// The count: the text before the first space as a decimal number (0 when it is none).
int DescriptorCount(const QByteArray &descriptor);

// The entry list text: everything after the first space, trimmed (empty without a
// space).
QString DescriptorEntryList(const QByteArray &descriptor);

// The entries of the entry list: the pieces before each ";" (text after the last ";"
// is ignored).
QStringList DescriptorEntries(const QByteArray &descriptor);

// The mail package of a quorvel mail: the text between the first space and the first
// ";", trimmed.
QString DescriptorPackageName(const QByteArray &descriptor);

// The entries of a quorvel mail after its package: the pieces before each ";" of the
// text after the first ";".
QStringList DescriptorEntriesAfterPackage(const QByteArray &descriptor);

// The pieces before each ";" of `list`; text after the last ";" is ignored.
QStringList SplitEntries(const QString &list);

// True when `entry` can name an archive member as it is: a bare, safe file name.
// Entries of a SENT copy are full paths of the sender's files and name no member.
bool IsMemberName(const QString &entry);
