// Screenshot file names: the tag made safe, the stamp, and no folder no file.
#include "framework/screenshotFilePath.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

TEST(ScreenshotFilePathTest, MarkerNamesStayInTheFolderAndNoFolderGivesNoPath)
{
    const QDateTime time(QDate(2024, 3, 5), QTime(7, 8, 9, 45));
    const QString folder = QDir::tempPath() + "/shots";
    EXPECT_EQ(screenshotFilePath(folder, "CD45/Ki67", time), folder + "/CD45_Ki67_24_03_05_07_08_09_045.png");
    for (const char* tag : {"../x", "..", "a\\b:c", ""}) {
        const QFileInfo file(screenshotFilePath(folder, tag, time));
        EXPECT_EQ(file.absolutePath(), folder) << tag;
        EXPECT_TRUE(file.fileName().endsWith("_24_03_05_07_08_09_045.png")) << tag;
        EXPECT_FALSE(file.fileName().startsWith('.')) << tag;
    }
    EXPECT_TRUE(screenshotFilePath(QString(), "sampleTag", time).isEmpty());
}
