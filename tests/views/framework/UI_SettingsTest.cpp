// The settings store across program runs, and the resource text reader.
#include "framework/UI_Settings.h"
#include "framework/readTextResource.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char* const stepVariable = "VESSARINE_SETTINGS_STEP";

/// Runs this test executable once more, as one step of the persistence test,
/// with the settings filed below `configHome`; returns its exit code.
int runSettingsStep(const QString& configHome, const QString& step, QString* output)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert(stepVariable, step);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=UI_SettingsStep.Run"});
    if (!child.waitForFinished(60000))
        return -1;
    *output = QString::fromLocal8Bit(child.readAll());
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

} // namespace

// One step of PersistsAcrossProcesses, run in a child process only.
TEST(UI_SettingsStep, Run)
{
    const QString step = qEnvironmentVariable(stepVariable);
    if (step.isEmpty())
        GTEST_SKIP() << "runs only as a child process of UI_SettingsTest.PersistsAcrossProcesses";

    UI_Settings* settings = UI_Settings::instance();
    EXPECT_EQ(settings, UI_Settings::instance());
    settings->sync();
    if (step == "fresh") {
        for (const char* key : {"dataDefaultFilePath", "exportDefaultFilePath", "dataExportDefaultFilePath"})
            EXPECT_EQ(settings->value(key, QString()).toString(), QString()) << key;
        settings->setValue("exportDefaultFilePath", "/data/<exports> & more");
        settings->sync();
    } else {
        EXPECT_EQ(settings->value("exportDefaultFilePath", QString()).toString(), "/data/<exports> & more");
        EXPECT_EQ(settings->value("dataDefaultFilePath", QString()).toString(), QString());
    }
}

TEST(UI_SettingsTest, PersistsAcrossProcesses)
{
    QTemporaryDir configHome;
    ASSERT_TRUE(configHome.isValid());
    QString output;
    ASSERT_EQ(runSettingsStep(configHome.path(), "fresh", &output), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[       OK ] UI_SettingsStep.Run")) << output.toStdString();
    // Filed under the organisation and application names, inside the given home.
    EXPECT_TRUE(QFile::exists(configHome.path() + "/Vessarine Project/Vessarine.conf"));
    ASSERT_EQ(runSettingsStep(configHome.path(), "again", &output), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[       OK ] UI_SettingsStep.Run")) << output.toStdString();
}

TEST(ReadTextResourceTest, ReadsFilesAndResourcesAndGivesEmptyTextOtherwise)
{
    EXPECT_EQ(readTextResource("/no/such/file.txt"), QString());
    EXPECT_EQ(readTextResource(":/no/such/resource"), QString());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("lines.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("first\r\nsecond\r\n");
    file.close();
    EXPECT_EQ(readTextResource(file.fileName()), "first\nsecond\n");

    const QString script = readTextResource(":/jslibs/d3.v4.js");
    EXPECT_TRUE(script.contains("version = \"4.7.0\""));
}
