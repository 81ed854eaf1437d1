#pragma once
// Paths of the store's own files. Every one goes through the case resolver, since
// setup may have created "inbox.hdr" where the program asks for "INBOX.hdr"; names
// that come from outside (folder names, mail identifiers) go through the sanitiser.

#include <QString>

// The three archives of folder `folder` in `inboxDir` (which ends in "/").
QString HeaderArchivePath(const QString &inboxDir, const QString &folder);
QString BodyArchivePath(const QString &inboxDir, const QString &folder);
QString AttachmentArchivePath(const QString &inboxDir, const QString &folder);

// `outboxDir` (ending in "/") + "quorvel.que".
QString QueueFilePath(const QString &outboxDir);
// The files of queued mail `mailName` in `outboxDir`: ".hdr", ".m" and ".doc".
QString OutgoingHeaderPath(const QString &outboxDir, const QString &mailName);
QString PackagePath(const QString &outboxDir, const QString &mailName);
QString BodyDocumentPath(const QString &outboxDir, const QString &mailName);

// `appPath` (no trailing "/") + "/quorvel.hst".
QString HistoryFilePath(const QString &appPath);

// The sticker directory, `appPath` + "/sticker/" (ending in "/").
QString StickerDir(const QString &appPath);
// Sticker collection `name`'s archive in `stickerDir`: name + ".zip".
QString CollectionArchivePath(const QString &stickerDir, const QString &name);
