// MD5 against the RFC 1321 test suite and against Qt's own implementation as an
// independent oracle.
#include "net/Md5.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <gtest/gtest.h>

TEST(Md5Test, Rfc1321Suite)
{
    const std::pair<const char *, const char *> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[input, digest] : suite)
        EXPECT_EQ(net::Md5::hexDigest(input).toStdString(), digest) << "MD5(\"" << input << "\")";
}

TEST(Md5Test, PiecewiseUpdatesAcrossBlockBoundaries)
{
    QRandomGenerator random(7);
    for (int size : {55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 4097}) {
        QByteArray data(size, '\0');
        for (char &c : data)
            c = char(random.bounded(256));
        net::Md5 md5;
        for (qsizetype at = 0; at < data.size();) {
            const qsizetype piece = std::min<qsizetype>(random.bounded(1, 70), data.size() - at);
            md5.update(data.constData() + at, piece);
            at += piece;
        }
        EXPECT_EQ(md5.digest(), QCryptographicHash::hash(data, QCryptographicHash::Md5)) << "size " << size;
    }
}
