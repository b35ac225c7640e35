// Downloads that pages start, on WebKitGTK's download signals. A window that
// uses its own download manager (the main window, plain windows) saves
// without a dialog where the manager or the program's download folder says;
// any other download asks the user where to save it. Nothing is saved where
// WebKit would put it by itself, and nothing downloaded is opened.
#pragma once

#include <webkit2/webkit2.h>

// Connects the context's download signals; once, when the shared context is
// made.
void ConnectBrowserDownloads(WebKitWebContext* context);
