// Moving a file over another in one step.
#pragma once

#include <string>

// Moves source (a file or, within one file system, a directory) to target,
// replacing a file there. The old target goes only when the new one takes
// its place, so a failed move never loses it. Across file systems a file is
// copied beside the target, renamed over it, and the source removed; the
// result is then whether the source is gone too.
bool MoveFileReplacing(const std::string& source, const std::string& target);
