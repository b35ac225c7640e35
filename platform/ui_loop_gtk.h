// The UI loop on GLib's default main context, the one GTK runs.
#pragma once

namespace platform {

// Installs the GLib loop as the program's UI loop; call it on the GTK thread
// after GTK is initialised. Posted tasks run in the order they were posted.
void InstallGtkUiLoop();

}  // namespace platform
