#pragma once

#include <QByteArray>
#include <QTemporaryDir>

/// Files the settings store of this test process under a fresh temporary
/// folder (XDG_CONFIG_HOME), removed when the process ends, so tests never
/// read or write the user's own settings. It must run before the first
/// UI_Settings::instance(): GUI test sources call it from a namespace-scope
/// initialiser. A test process started by an isolated one keeps the folder
/// its parent gave it. Returns whether the settings are isolated.
inline bool isolateSettings()
{
    static const char* const marker = "VESSARINE_TEST_SETTINGS_ISOLATED";
    if (qEnvironmentVariableIsSet(marker))
        return true;
    static QTemporaryDir configHome;
    if (!configHome.isValid())
        return false;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv(marker, "1");
    return true;
}
