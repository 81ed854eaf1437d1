#pragma once
// Sticker collections: each is one archive "<name>.zip" in the sticker directory, its
// members the stickers (plus, in a collection made here, the placeholder member).
// This is the editor strip's file work: listing the collections, unpacking one, and
// the commands that add and delete stickers and collections.
//
// A collection is unpacked into a private working directory below the sticker
// directory, never beside the archives, each member under its bare, sanitised name,
// so a member named like a collection or "../x" can neither replace nor escape
// anything. Only pictures within kMaxStickerBytes and kMaxStickerSide are written:
// members are read into memory no larger than the bound, and a picture's size is read
// from its header before it is ever decoded.
//
// Sticker archives hold no mail and no run reads or writes them, so the commands here
// run during a posting or fetching run too; each one that changes an archive is one
// StoreCommand. They use an archive component of their own, so a run's component is
// never pointed elsewhere in the middle of its work.

#include "common/ZipArchive.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

class ControlCentreState;

class StickerCollections {
public:
    // Bounds on one sticker: its stored size and its picture's width and height.
    static constexpr qint64 kMaxStickerBytes = 4 * 1024 * 1024;
    static constexpr int kMaxStickerSide = 4096;

    // Removes what a run that was killed left unpacked.
    explicit StickerCollections(const ControlCentreState &state);
    // Removes the unpacked copies.
    ~StickerCollections();
    StickerCollections(const StickerCollections &) = delete;
    StickerCollections &operator=(const StickerCollections &) = delete;

    QString stickerDir() const;
    QString archivePath(const QString &collection) const;
    // Whether collection `name`'s archive exists (letter case ignored).
    bool Exists(const QString &name) const;

    // The collections in sorted order, as the strip names them: each archive's name in
    // lower case, cut before its first ".".
    QStringList List() const;

    struct Unpacked {
        int memberCount = 0;   // the placeholder included
        // The member names in archive order, bare and in lower case, placeholder excluded.
        QStringList names;
        // What could not be read, as the archive component says it; whatever could be
        // is unpacked all the same.
        QString failure;
    };
    // Unpacks collection `name` (whose archive must exist) after removing the copies of
    // the one unpacked before. Raises platform::Error when its member list cannot be
    // read; nothing has changed then.
    Unpacked Unpack(const QString &name);
    // Removes every unpacked copy.
    void Clean();

    // Sticker `name` (letter case ignored) of the unpacked collection: its picture, and
    // the bytes that go into a mail body for it (a PNG sticker as stored, any other
    // picture converted to PNG once). Both null when it was not unpacked or cannot be
    // read.
    struct Picture {
        QImage image;
        QByteArray body;
    };
    Picture Load(const QString &name);

    // Adds `file` to `collection` under its bare name, replacing a member of that name
    // in any letter case.
    void AddSticker(const QString &collection, const QString &file);
    // Deletes the member that sticker `name` (letter case ignored) of `collection`
    // was unpacked from, and its copy. A missing archive is reported ("File ... is
    // missing").
    void DeleteSticker(const QString &collection, const QString &name);
    // Creates collection `name` holding the placeholder copied from the INBOX header
    // archive.
    void NewCollection(const QString &name);
    // Deletes collection `name`'s archive.
    void DeleteCollection(const QString &name);

    // Whether `data` is a picture within the bounds, judged by its header alone.
    static bool FitsBounds(const QByteArray &data);

private:
    QString unpackDir(bool create) const;
    // The members of `archive` whose bare name is `name`, letter case ignored, in
    // archive order.
    QStringList membersNamed(const QString &archive, const QString &name);

    const ControlCentreState &state_;
    TZipArchive zip_;
    // Unpacked copies by lower-case name, and the body bytes made from them.
    QHash<QString, QString> files_;
    QHash<QString, QByteArray> bodyPictures_;
    QString unpacked_;
};
