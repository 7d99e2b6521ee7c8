#include "applicationIcon.h"

QIcon applicationIcon()
{
    QIcon icon;
    for (const char* path : {":/Icons/AppIcon32", ":/Icons/AppIcon64", ":/Icons/AppIcon128",
                             ":/Icons/AppIcon256", ":/Icons/AppIcon512", ":/Icons/AppIcon1024"})
        icon.addFile(path);
    return icon;
}
