#pragma once
// The address book file "quorvel.adk" in the installation directory: one entry per
// line, the name, "[", the alias, "]" and the e-mail text, unescaped, CR LF line ends.
// The file's lines are held in the address book's own line list of the shared state
// (never meTemp, which a posting run may hold); the entries are parsed from them.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class ControlCentreState;

struct AddressEntry {
    QString name;
    QString alias;
    QString email;
    bool operator==(const AddressEntry &) const = default;
};

// `appPath` + "/quorvel.adk", through the case resolver.
QString AddressBookPath(const QString &appPath);

// The entry of one file line: the name ends at the first "[", the alias at the first
// "]"; a line without both, or with the "]" first, is no entry.
std::optional<AddressEntry> ParseAddressLine(const QString &line);
// name + "[" + alias + "]" + email.
QString AddressLine(const AddressEntry &entry);

// The entry as typed in the entry dialog, made ready to store: nothing when the name
// or the e-mail text is empty once trimmed; otherwise the e-mail text loses every CR
// and LF (several lines run together), and nothing is trimmed.
std::optional<AddressEntry> TypedEntry(const AddressEntry &typed);

// The address book's operations. Each raises platform::Error when the file cannot be
// read, created or written; the entry list then keeps the change already made.
class AddressBookFile {
public:
    explicit AddressBookFile(ControlCentreState &state);

    QString path() const;

    // Reads the file's lines into the line list, creating the file empty when it is
    // missing. UTF-8 lines are read as UTF-8; a line in another 8-bit code page is
    // read one character per byte, and written back with its own bytes while unchanged.
    void LoadAddressBook();
    // Rebuilds the entry list from the line list; lines that are no entry are left
    // out, and so disappear from the file at the next write.
    const QList<AddressEntry> &ShowAddressBook();
    const QList<AddressEntry> &entries() const { return entries_; }

    // Appends `typed` (see TypedEntry) and writes the file; false when nothing was stored.
    bool Add(const AddressEntry &typed);
    // Replaces the entry at `row` by `typed` and writes the file; false when nothing
    // was changed.
    bool Edit(qsizetype row, const AddressEntry &typed);
    // Removes the entry at `row` and writes the file.
    void Delete(qsizetype row);
    // Replaces the file, atomically, by one line per entry in list order.
    void WriteAddressBook();

    // Reads the file again and returns the e-mail text of the first entry line that
    // contains `name` anywhere, letters compared without case (so "Ann" also finds
    // "Joanne" when it comes first); empty for an empty name or no such line.
    QString GetEmailAddress(const QString &name);

private:
    ControlCentreState &state_;
    QList<AddressEntry> entries_;
    // Lines read that are not UTF-8, by their text: written back as these bytes.
    QHash<QString, QByteArray> foreignLines_;
};
