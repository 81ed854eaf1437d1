#pragma once
// The header record: one member of a folder's header archive per mail, named by the
// mail identifier. Seven CR LF lines, each a key followed directly by its value:
// "MAIL-TYPE:", "STATUS:", "DATE:", "FROM:", "SUBJECT:", "ATTACH:", "HEADER:". A
// fetched mail's raw header lines follow the "HEADER:" line to the end of the record.
// Values are bytes: what arrived is kept as it arrived, typed text is UTF-8.

#include <QByteArray>
#include <QIODevice>
#include <QString>

class TZipArchive;

// The member that keeps a header archive alive when its folder holds no mail.
inline const QString kPlaceholderMember = QStringLiteral("___.___");

// Status values of a record.
inline constexpr char kStatusNew[] = "NEW";
inline constexpr char kStatusRead[] = "READ";
inline constexpr char kStatusReplied[] = "REPLIED";
inline constexpr char kStatusForward[] = "FORWARD";

struct HeaderRecord {
    QByteArray mailType, status, date, from, subject, attach, header;
    // The raw header as the record carries it: the "HEADER:" value followed by each
    // line after the record's "HEADER:" line, each preceded by CR LF. Passing it back
    // to WriteHeaderRecord keeps a fetched mail's raw header lines.
    QByteArray rawHeader;

    // True when the mail type contains "quorvel".
    bool ownMail() const;
};

// The record's bytes; line 1 is "MAIL-TYPE:quorvel" when `ownMail`, else "MAIL-TYPE:".
// A line break inside a field other than the raw header would start a field of its
// own, so it becomes a space there.
QByteArray FormatHeaderRecord(const QByteArray &date, bool ownMail, const QByteArray &status,
                              const QByteArray &attach, const QByteArray &rawHeader,
                              const QByteArray &subject, const QByteArray &from);

// The reading rule: every line is searched, anywhere and with case, for each key in
// record order; a key found sets its field to the rest of the line after it, untrimmed,
// replacing an earlier value. The fields are complete at the end of the data or as soon
// as the six fields other than the mail type are all non-empty.
HeaderRecord ParseHeaderRecord(QIODevice &in);
HeaderRecord ParseHeaderRecord(const QByteArray &content);

// Reads a header record file (GetMailHeader); raises platform::Error when it cannot be
// read.
HeaderRecord ReadHeaderRecordFile(const QString &path);

// Builds the record, writes it as a temporary file named by `mailId` in the private
// working directory of `inboxDir`, adds it to the header archive of `folder` (replacing
// a record of that identifier) and deletes the temporary file. Raises platform::Error
// when the temporary file cannot be created (an empty identifier included). Returns
// the result of AddToArchive.
bool WriteHeaderRecord(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                       const QString &mailId, const QByteArray &date, bool ownMail,
                       const QByteArray &status, const QByteArray &attach,
                       const QByteArray &rawHeader, const QByteArray &subject,
                       const QByteArray &from);

// Extracts the record `mailId` of `folder` into the private working directory of
// `inboxDir`, reads it and deletes the copy. False when the header archive is missing
// (ExtractFromArchive has said so) or holds no such member.
bool ReadHeaderRecord(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                      const QString &mailId, HeaderRecord &record);

// Extracts `member` of `archive` into the private working directory of `baseDir` and
// returns the copy's path, after removing any stale file of that name there, so the
// copy is always the member's. Empty when the archive is missing or has no such
// member. The caller deletes the copy when done.
QString ExtractMemberCopy(TZipArchive &zip, const QString &archive, const QString &member,
                          const QString &baseDir);
