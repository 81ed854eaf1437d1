#pragma once
// A stored mail as the editor shows it: what the folder window's store operations read
// out of a folder for viewing, replying and forwarding, and hand to the editor.

#include <QByteArray>
#include <QString>
#include <QStringList>

struct MailContent {
    // Rows of the recipient list (lvTo).
    QStringList recipients;
    QString subject;
    // Rows of the attachment list (lvAttach): member names in the source folder's
    // attachment archive.
    QStringList attachments;
    // True for a quorvel mail, whose body is an RTF document; otherwise the body is
    // plain UTF-8 text.
    bool richText = false;
    QByteArray body;
};
