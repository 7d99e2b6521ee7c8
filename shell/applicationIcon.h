#pragma once

#include <QIcon>

/// The program's window icon: the bundle's six sizes, 32 to 1024 pixels,
/// added smallest first.
QIcon applicationIcon();
