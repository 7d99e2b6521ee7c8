#include "framework/UI_Settings.h"

UI_Settings* UI_Settings::instance()
{
    // Never freed: the store lives until the process ends.
    static UI_Settings* settings = new UI_Settings();
    return settings;
}
