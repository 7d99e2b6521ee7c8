#pragma once

#include <QString>

/// The directory a settings key holds, read right after a sync; empty when
/// the key was never written.
QString readDirectoryKey(const char* key);

/// Stores a directory under a settings key and syncs at once, so other
/// running instances see it.
void writeDirectoryKey(const char* key, const QString& directory);
