#include "store/AddressBookFile.h"

#include "platform/CaseResolver.h"
#include "platform/Paths.h"
#include "store/SharedState.h"
#include "store/TextOps.h"

#include <QFileInfo>

QString AddressBookPath(const QString &appPath)
{
    return platform::resolveCase(platform::joinPath(appPath, "quorvel.adk"));
}

std::optional<AddressEntry> ParseAddressLine(const QString &line)
{
    const qsizetype p = line.indexOf('[');
    const qsizetype q = line.indexOf(']');
    if (p < 0 || q < p)
        return std::nullopt;
    return AddressEntry{line.left(p), line.mid(p + 1, q - p - 1), line.mid(q + 1)};
}

QString AddressLine(const AddressEntry &entry)
{
    return entry.name + '[' + entry.alias + ']' + entry.email;
}

std::optional<AddressEntry> TypedEntry(const AddressEntry &typed)
{
    if (TrimControl(typed.name).isEmpty() || TrimControl(typed.email).isEmpty())
        return std::nullopt;
    AddressEntry entry = typed;
    RemoveAll(entry.email, "\r");
    RemoveAll(entry.email, "\n");
    return entry;
}

AddressBookFile::AddressBookFile(ControlCentreState &state) : state_(state) {}

QString AddressBookFile::path() const
{
    return AddressBookPath(state_.AppPath);
}

void AddressBookFile::LoadAddressBook()
{
    QStringList &lines = state_.meAddressBook;
    lines.clear();
    foreignLines_.clear();
    const QString file = path();
    if (!QFileInfo::exists(file)) {
        WriteStoreFile(file, {});
        return;
    }
    const QByteArrayList raw = SplitLines(ReadStoreFile(file));
    lines.reserve(raw.size());
    for (const QByteArray &bytes : raw) {
        QString text = TextFromStore(bytes);
        if (text.toUtf8() != bytes)
            foreignLines_.insert(text, bytes);
        lines << std::move(text);
    }
}

const QList<AddressEntry> &AddressBookFile::ShowAddressBook()
{
    entries_.clear();
    for (const QString &line : std::as_const(state_.meAddressBook)) {
        if (std::optional<AddressEntry> entry = ParseAddressLine(line))
            entries_ << std::move(*entry);
    }
    return entries_;
}

bool AddressBookFile::Add(const AddressEntry &typed)
{
    const std::optional<AddressEntry> entry = TypedEntry(typed);
    if (!entry)
        return false;
    entries_ << *entry;
    WriteAddressBook();
    return true;
}

bool AddressBookFile::Edit(qsizetype row, const AddressEntry &typed)
{
    const std::optional<AddressEntry> entry = TypedEntry(typed);
    if (!entry || row < 0 || row >= entries_.size())
        return false;
    entries_[row] = *entry;
    WriteAddressBook();
    return true;
}

void AddressBookFile::Delete(qsizetype row)
{
    if (row < 0 || row >= entries_.size())
        return;
    entries_.removeAt(row);
    WriteAddressBook();
}

void AddressBookFile::WriteAddressBook()
{
    QStringList &lines = state_.meAddressBook;
    lines.clear();
    QByteArrayList bytes;
    bytes.reserve(entries_.size());
    for (const AddressEntry &entry : std::as_const(entries_)) {
        lines << AddressLine(entry);
        bytes << foreignLines_.value(lines.last(), lines.last().toUtf8());
    }
    WriteStoreFile(path(), JoinLines(bytes));
}

QString AddressBookFile::GetEmailAddress(const QString &name)
{
    LoadAddressBook();
    if (name.isEmpty())
        return {};
    const QString wanted = name.toLower();
    for (const QString &line : std::as_const(state_.meAddressBook)) {
        // Only lines that are entries: the text after "]" of any other line is no address.
        if (line.toLower().contains(wanted) && ParseAddressLine(line))
            return line.mid(line.indexOf(']') + 1);
    }
    return {};
}
