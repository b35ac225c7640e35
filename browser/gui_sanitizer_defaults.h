// Sanitizer settings for programs that run GTK and WebKitGTK. Those
// libraries are not built with the sanitizers: they keep memory until exit
// and synchronise their own threads out of ThreadSanitizer's sight. Include
// this header in exactly one file of such a program.
#pragma once

extern "C" {

// Reports from code that was not instrumented are left out; ours is checked.
__attribute__((used, visibility("default"))) const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}

// Library-owned memory that is never freed before exit.
__attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n"
         "leak:libjavascriptcoregtk-4.1.so\n"
         "leak:libwebkit2gtk-4.1.so\n"
         "leak:libgtk-3.so\n"
         "leak:libgdk-3.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n"
         "leak:libgio-2.0.so\n"
         "leak:libpango\n"
         "leak:libcairo.so\n"
         "leak:libharfbuzz.so\n"
         "leak:libX11.so\n"
         "leak:libatk\n"
         "leak:libepoxy.so\n";
}

}  // extern "C"
