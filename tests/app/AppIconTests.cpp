// The icons the desktop shows for the program: from the icon theme under the
// name its launcher entry gives, else the copy built into the program.

#include "app/AppIcon.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace parlaro::test {
namespace {

// The source tree's resources, reached through the link beside the built
// program.
QString resourcesFolder()
{
    return QFileInfo(QStringLiteral(PARLARO_PROGRAM)).dir().filePath(QStringLiteral("resources"));
}

int opaquePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).alpha() == 255;
    return count;
}

void saveSnapshot(const QImage& image, const QString& name)
{
    if (const char* dir = std::getenv("PARLARO_SNAPSHOT_DIR")) {
        QDir().mkpath(QString::fromLocal8Bit(dir));
        image.save(QDir(QString::fromLocal8Bit(dir)).filePath(name));
    }
}

class AppIcon : public testing::Test {
protected:
    void SetUp() override
    {
        searchPaths = QIcon::themeSearchPaths();
        themeName = QIcon::themeName();
    }
    void TearDown() override
    {
        QIcon::setThemeSearchPaths(searchPaths);
        QIcon::setThemeName(themeName);
    }
    QStringList searchPaths;
    QString themeName;
};

TEST_F(AppIcon, WithoutAnInstalledIconTheBuiltInCopyIsDrawnAndTheTrayKeepsItsGlyph)
{
    QIcon::setThemeSearchPaths({});
    const QIcon icon = app::applicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 48, 128}) {
        const QImage image = icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_GT(opaquePixels(image), size * size / 2) << size;
        saveSnapshot(image, QStringLiteral("AppIcon-builtin-%1.png").arg(size));
    }
    // The rounded face is blue, the bubble on it white.
    const QImage large = icon.pixmap(QSize(128, 128)).toImage();
    EXPECT_GT(large.pixelColor(20, 110).blue(), 150);
    EXPECT_LT(large.pixelColor(20, 110).red(), 100);
    EXPECT_EQ(large.pixelColor(40, 50).rgb(), QColor(Qt::white).rgb());

    QPixmap glyph(16, 16);
    glyph.fill(Qt::red);
    const QIcon tray = app::trayIcon(QIcon(glyph));
    EXPECT_EQ(tray.pixmap(QSize(16, 16)).toImage().pixelColor(8, 8).rgb(), QColor(Qt::red).rgb());
}

// The installed files carry the names the launcher entry and the program
// ask the theme for; a renamed file would leave a generic icon behind.
TEST_F(AppIcon, TheInstalledThemeIconsAreTheOnesTheProgramAndItsLauncherEntryName)
{
    // A theme holding our icon folders as the install lays them out, with
    // the index a theme needs (the desktop's hicolor brings its own).
    QTemporaryDir themes;
    ASSERT_TRUE(themes.isValid());
    QDir root(themes.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("hicolor")));
    {
        std::ofstream index((themes.path() + QStringLiteral("/hicolor/index.theme")).toStdString());
        index << "[Icon Theme]\nName=Hicolor\nDirectories=scalable/apps,symbolic/apps\n\n"
                 "[scalable/apps]\nSize=128\nMinSize=8\nMaxSize=512\nType=Scalable\n\n"
                 "[symbolic/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n";
    }
    for (const QString& folder : {QStringLiteral("scalable/apps"), QStringLiteral("symbolic/apps")}) {
        const QString from = resourcesFolder() + QStringLiteral("/icons/hicolor/") + folder;
        ASSERT_TRUE(root.mkpath(QStringLiteral("hicolor/") + folder));
        for (const QString& file : QDir(from).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(from + QLatin1Char('/') + file,
                                    themes.path() + QStringLiteral("/hicolor/") + folder + QLatin1Char('/') + file));
    }
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("hicolor"));
    ASSERT_TRUE(QIcon::hasThemeIcon(QString::fromLatin1(app::desktopId)));
    const QIcon icon = app::applicationIcon();
    EXPECT_EQ(icon.name(), QString::fromLatin1(app::desktopId));
    EXPECT_GT(opaquePixels(icon.pixmap(QSize(64, 64)).toImage()), 64 * 64 / 2);

    QPixmap glyph(16, 16);
    glyph.fill(Qt::red);
    const QIcon tray = app::trayIcon(QIcon(glyph));
    EXPECT_EQ(tray.name(), QString::fromLatin1(app::desktopId) + QStringLiteral("-symbolic"));
    const QImage traced = tray.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
    saveSnapshot(traced, QStringLiteral("AppIcon-tray-symbolic-32.png"));
    ASSERT_GT(opaquePixels(traced), 100);
    for (int y = 0; y < traced.height(); ++y)
        for (int x = 0; x < traced.width(); ++x)
            if (traced.pixelColor(x, y).alpha() == 255)
                EXPECT_EQ(traced.pixelColor(x, y).rgb(), QColor(0x80, 0x80, 0x80).rgb()) << x << "," << y;

    std::ifstream entry((resourcesFolder() + QStringLiteral("/desktop/%1.desktop").arg(app::desktopId)).toStdString());
    ASSERT_TRUE(entry) << "no launcher entry named after the desktop id";
    std::stringstream text;
    text << entry.rdbuf();
    EXPECT_NE(text.str().find(std::string("\nIcon=") + app::desktopId + "\n"), std::string::npos);
}

}  // namespace
}  // namespace parlaro::test
