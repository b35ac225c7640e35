// The file methods of window.external: list, read, write, append, move and
// delete files, a file as Base64, and a data file as JSON. Each takes the
// page's arguments in the page's order and gives what the page receives;
// failures are results (0, an empty text), never script errors.
#pragma once

#include <vector>

#include "util/script_value.h"

// directory, pattern, descend -> names joined with "*".
ScriptValue GetPageFileList(const std::vector<ScriptValue>& arguments);
// directory, file name -> the file's text, or empty.
ScriptValue ReadPageFile(const std::vector<ScriptValue>& arguments);
// directory, file name, content -> 1 written, 0 failed.
ScriptValue WritePageFile(const std::vector<ScriptValue>& arguments);
ScriptValue AppendPageFile(const std::vector<ScriptValue>& arguments);
// source directory, file name, target directory [, new name] -> 1 or 0.
ScriptValue MovePageFile(const std::vector<ScriptValue>& arguments);
// path -> 1 deleted, 0 failed.
ScriptValue DeletePageFile(const std::vector<ScriptValue>& arguments);
// path -> Base64 text, or empty.
ScriptValue PageFileToBase64(const std::vector<ScriptValue>& arguments);
// data file [, names only [, statement]] -> the data file's JSON text.
ScriptValue ReadPageDataFile(const std::vector<ScriptValue>& arguments);
