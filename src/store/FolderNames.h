#pragma once
// The names taken in one folder, so that one mail's members never replace another's.
//
// A header record and a body member are named by the mail identifier; an attachment
// member (and a quorvel mail's package N.m) by its file name. Every one of these names
// belongs to one mail of the folder. A mail whose name is taken gets a distinct one:
//   identifier   id      -> id-2, id-3, ...
//   package      N.m     -> N-2.m, N-3.m, ... (its body member renamed to match)
//   attachment   a.png   -> a (2).png, a (3).png, ... (" (k)" before the last extension)
// Names are compared without regard to letter case: members that differ only in case
// would meet as one file wherever they are extracted side by side.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

class TZipArchive;

// The k-th distinct form (k >= 2) of each kind of name, within the file-name limit.
QString NumberedIdentifier(const QString &mailId, int k);
QString NumberedPackageName(const QString &packageName, int k);
QString NumberedAttachmentName(const QString &name, int k);

// A package name: what a quorvel mail's first descriptor entry is ("N.m").
bool IsPackageName(const QString &name);

// Rewrites the mail package `packagePath` (a file named P.m holding P.doc, P being the
// name its sender gave it) into `targetPath` (named Q.m) holding the same body as Q.doc,
// so that a renamed package still opens as a package. A file that is no such package
// is copied unchanged. Raises platform::Error when the target cannot be written.
void RenamePackageFile(const QString &packagePath, const QString &targetPath);

class FolderNames {
public:
    // Reads the member names of the folder's header and attachment archives (each archive
    // is listed once; a missing archive holds no names).
    static FolderNames read(TZipArchive &zip, const QString &inboxDir, const QString &folder);

    // Where a mail with identifier `mailId` and raw header `rawHeader` goes: the first of
    // mailId, mailId-2, ... that is free, unless one of the taken ones before it holds
    // the same message (the same, non-empty raw header; `rawHeaderOf` gives a taken
    // member's raw header). The chosen identifier is claimed.
    struct IdentifierChoice {
        QString mailId;
        bool sameMessage = false;   // mailId names the same message, already stored
    };
    IdentifierChoice claimIdentifier(const QString &mailId, const QByteArray &rawHeader,
                                     const std::function<QByteArray(const QString &member)> &rawHeaderOf);

    // The attachment member name for `name` (a package name when `package`): the name
    // itself when free, else its first free numbered form; a ";" in it becomes "_" and
    // leading spaces go, since either would part the descriptor entry from its member.
    // The name returned is claimed.
    QString claimAttachment(const QString &name, bool package = false);

    // Frees names claimed for a mail that was not stored after all.
    void release(const QString &mailId, const QStringList &attachments);

    // The member of that name as stored (letter case ignored); empty when free.
    QString identifierMember(const QString &mailId) const;
    bool attachmentTaken(const QString &name) const;

private:
    QHash<QString, QString> identifiers_;   // folded name -> member name as stored
    QHash<QString, QString> attachments_;
    QHash<QString, int> nextNumber_;        // numbered form to try first, per name
};
