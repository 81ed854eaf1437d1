// The sticker collections the build draws from the emoji font, read back the way the
// editor reads them: every member extracted through the archive component and loaded
// as a picture. A font that Qt draws as nothing, or without colour, fails here.

#include "common/ZipArchive.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr int kMinCollections = 3;
constexpr int kMinStickers = 24;
constexpr int kStickerSize = 36;

struct Look {
    bool varied = false;       // at least two different pixels
    bool transparent = false;  // some background shows through
    bool coloured = false;     // some opaque pixel is clearly not grey
};

Look lookAt(const QImage &image)
{
    Look look;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            look.varied = look.varied || c.rgba() != first;
            look.transparent = look.transparent || c.alpha() == 0;
            look.coloured = look.coloured || (c.alpha() == 255 && c.hsvSaturation() > 64);
        }
    }
    return look;
}

TEST(ShippedCollections, EveryMemberIsAColourStickerTheEditorCanShow)
{
    const QDir built(QStringLiteral(QUORVEL_STICKER_BUILD_DIR));
    const QStringList archives = built.entryList({QStringLiteral("*.zip")}, QDir::Files);
    ASSERT_GE(archives.size(), kMinCollections) << built.path().toStdString();

    for (const QString &archive : archives) {
        SCOPED_TRACE(archive.toStdString());
        EXPECT_EQ(archive, archive.toLower());
        QTemporaryDir unpacked;
        ASSERT_TRUE(unpacked.isValid());
        TZipArchive zip;
        zip.setZipFilename(built.filePath(archive));
        zip.setExtrBaseDir(unpacked.path());
        ASSERT_GE(zip.MemberList().size(), kMinStickers);
        zip.Extract();
        ASSERT_EQ(zip.SuccessCount(), zip.MemberList().size());

        // A few emoji are black and white (a football); most are not.
        int coloured = 0;
        for (const ZipDirEntry &member : zip.MemberList()) {
            const QString &name = member.fileName;
            SCOPED_TRACE(name.toStdString());
            EXPECT_TRUE(name.endsWith(QLatin1String(".bmp")));
            EXPECT_EQ(name, name.toLower());
            QImage image;
            ASSERT_TRUE(image.load(unpacked.filePath(name), "BMP"));
            EXPECT_EQ(image.size(), QSize(kStickerSize, kStickerSize));
            const Look look = lookAt(image);
            EXPECT_TRUE(look.varied) << "blank";
            EXPECT_TRUE(look.transparent) << "no transparent background";
            coloured += look.coloured ? 1 : 0;
        }
        EXPECT_GT(coloured, zip.MemberList().size() / 2) << "drawn without colour";
    }
}

} // namespace
