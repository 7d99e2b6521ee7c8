#pragma once

// The update checker's three entry points. Windows builds link the updater
// library, which reads its feed address from the executable's "APPCAST"
// resource "FEEDURL" and the version from its version block. Elsewhere
// UpdateChecker.cpp stands in for it without touching the network.
extern "C" {
/// Starts the checker; called once, after the main window is shown.
void win_sparkle_init();
/// Runs an interactive check; the checker shows its own windows.
void win_sparkle_check_update_with_ui();
/// Stops the checker; called once, from the main window's destructor.
void win_sparkle_cleanup();
}
