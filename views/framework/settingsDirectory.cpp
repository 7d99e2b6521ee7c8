#include "framework/settingsDirectory.h"

#include "framework/UI_Settings.h"

QString readDirectoryKey(const char* key)
{
    UI_Settings* settings = UI_Settings::instance();
    settings->sync();
    return settings->value(key, QString()).toString();
}

void writeDirectoryKey(const char* key, const QString& directory)
{
    UI_Settings* settings = UI_Settings::instance();
    settings->setValue(key, directory);
    settings->sync();
}
