// The program itself, started as a user would: no arguments, own settings home.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(StartupTest, StartsWithoutArgumentsAndStaysUp)
{
    const QString program = QCoreApplication::applicationDirPath() + "/../shell/vessarine";
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    QTemporaryDir configHome;
    ASSERT_TRUE(configHome.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome.path());

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList());
    ASSERT_TRUE(process.waitForStarted(10000));
    // Still running after two seconds: the window is up and the loop runs.
    EXPECT_FALSE(process.waitForFinished(2000)) << process.readAll().toStdString();
    EXPECT_EQ(process.state(), QProcess::Running);
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(10000);
}
