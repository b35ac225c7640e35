// The desktop-service methods of window.external: registry, image, file,
// data-file and transfer methods, by their ids in the method table.
#pragma once

#include <vector>

#include "util/script_value.h"

class PageCommandQueue;

// Carries out the method when id is one of them and gives true; result is
// then what the page receives. Upload callbacks go to the window's queue.
bool InvokeServiceMethod(int id, const std::vector<ScriptValue>& arguments,
                         PageCommandQueue& callbacks, ScriptValue& result);
