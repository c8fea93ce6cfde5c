// Saving the composed window picture.

#include "platform/output_files.h"
#include "render_test_support.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

namespace qm::test {
namespace {

using SnapshotTest = RendererTest;

TEST_F(SnapshotTest, FormatFollowsTheExtensionAndTheSizeIsTheWindows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeWindow window(352, 240);
    CVideoRenderer renderer;
    OutputFiles outputs;
    const auto picture =
        MakePicture(160, 120, [](int x, int y) { return qRgb(x, y, (x + y) & 255); });
    Draw(renderer, window, picture, 160, 120, CellRect{0, 0, 176, 120});

    const std::pair<const char*, const char*> cases[] = {
        {"a.jpg", "jpeg"},  {"b.bmp", "bmp"},  {"c.PNG", "png"},
        {"d.jpeg", "jpeg"}, {"e.dat", "jpeg"}, {"noextension", "jpeg"}};
    for (auto [name, format] : cases) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(renderer.SaveSnapshot(outputs, path)) << name;
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        EXPECT_EQ(reader.format(), QByteArray(format)) << name;
        const QImage image = reader.read();
        EXPECT_EQ(image.size(), QSize(352, 240)) << name;
    }
    // Lossless formats hold exactly what the window shows.
    const QImage png(dir.filePath(QStringLiteral("c.PNG")), "png");
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), renderer.BackBuffer());
}

TEST_F(SnapshotTest, NothingIsWrittenWithoutASurfaceOrToABadPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CVideoRenderer renderer;
    OutputFiles outputs;
    const QString path = dir.filePath(QStringLiteral("x.png"));
    EXPECT_FALSE(renderer.SaveSnapshot(outputs, path));
    EXPECT_FALSE(QFile::exists(path));

    FakeWindow window(320, 240);
    Draw(renderer, window, SolidPicture(64, 64, 0xFF00FF00), 64, 64, CellRect{0, 0, 320, 240});
    EXPECT_FALSE(renderer.SaveSnapshot(outputs, dir.filePath(QStringLiteral("missing/x.png"))));
}

} // namespace
} // namespace qm::test
