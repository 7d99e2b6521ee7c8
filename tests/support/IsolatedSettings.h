#pragma once

#include <QByteArray>
#include <QTemporaryDir>

/// Files the settings store of this test process under a fresh temporary
/// folder (XDG_CONFIG_HOME), removed when the process ends, so tests never
/// read or write the user's own settings. It must run before the first
/// UI_Settings::instance(): GUI test sources call it from a namespace-scope
/// initialiser. Returns whether the folder exists.
inline bool isolateSettings()
{
    static QTemporaryDir configHome;
    if (configHome.isValid())
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    return configHome.isValid();
}
