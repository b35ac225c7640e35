// Downloads that pages start, on WebKitGTK's download signals.
#pragma once

#include <webkit2/webkit2.h>

// Connects the context's download signals; once, when the shared context is
// made.
void ConnectBrowserDownloads(WebKitWebContext* context);
