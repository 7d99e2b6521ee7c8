// scripts/start, run on a copy whose set-up, build and program only record
// how they were called: it checks that the display opens before building.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <utility>

namespace {

bool writeExecutable(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size()
           && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace

TEST(StartScriptTest, WithoutADisplayItSaysSoInOneLineBeforeBuilding)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath("scripts") && QDir(root.path()).mkpath("build/shell"));
    ASSERT_TRUE(QFile::copy(VESSARINE_SOURCE_DIR "/scripts/start", root.filePath("scripts/start")));
    const QString calls = root.filePath("calls");
    for (const auto& [name, word] : {std::pair<const char*, const char*>{"scripts/setup", "setup"},
                                     {"scripts/build", "build"}, {"build/shell/vessarine", "run"}})
        ASSERT_TRUE(writeExecutable(root.filePath(name),
                                    QByteArray("#!/bin/sh\necho ") + word + " \"$@\" >> '" + calls.toUtf8() + "'\n"));

    // The test's own display, which opens.
    const QString display = QProcessEnvironment::systemEnvironment().value("DISPLAY");
    ASSERT_FALSE(display.isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    QProcess start;
    start.setProcessChannelMode(QProcess::MergedChannels);
    // None set, then one that cannot be opened (no server has that number).
    for (const char* stale : {"", ":4711"}) {
        SCOPED_TRACE(stale);
        if (stale[0] != '\0')
            environment.insert("DISPLAY", stale);
        start.setProcessEnvironment(environment);
        start.start("bash", {root.filePath("scripts/start"), "file.fcs"});
        ASSERT_TRUE(start.waitForFinished(10000));
        EXPECT_NE(start.exitCode(), 0);
        const QString said = QString::fromUtf8(start.readAll());
        EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
        EXPECT_TRUE(said.contains("needs a display")) << said.toStdString();
        EXPECT_TRUE(said.contains("scripts/with-display scripts/start")) << said.toStdString();
        EXPECT_FALSE(QFile::exists(calls)) << "nothing set up, built or started";
    }

    // With a display: set-up, the program's build alone, then the program.
    environment.insert("DISPLAY", display);
    start.setProcessEnvironment(environment);
    start.start("bash", {root.filePath("scripts/start"), "file.fcs"});
    ASSERT_TRUE(start.waitForFinished(10000));
    EXPECT_EQ(start.exitCode(), 0);
    QFile recorded(calls);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    EXPECT_EQ(recorded.readAll(), QByteArray("setup\nbuild release vessarine\nrun file.fcs\n"));
}
