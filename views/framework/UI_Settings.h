#pragma once

#include <QSettings>

/// The program's one persistent settings store: the platform's native store
/// in the user scope, filed under the organisation and application names set
/// at start-up. Users call sync() right before reading a key and right after
/// writing one, so several running instances see each other's values.
/// Keys: "dataDefaultFilePath", "exportDefaultFilePath",
/// "dataExportDefaultFilePath" (directories; empty when never written).
class UI_Settings : public QSettings
{
public:
    /// The single store, created on the first call and never destroyed.
    /// GUI thread only.
    static UI_Settings* instance();

private:
    UI_Settings() = default;
};
