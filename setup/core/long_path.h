// Paths handed to the file functions in their "\\?\" form, so that a deep packaged file
// below a staging folder works on a Windows whose long-path setting is off.
#pragma once

#include <string>

// "C:\x" -> "\\?\C:\x", "\\server\share\x" -> "\\?\UNC\server\share\x". A path already
// in that form is kept, and so is anything else (relative, device, or not yet
// normalised: the prefix turns off the system's own clean-up of "/", "." and "..").
std::wstring LongPath(const std::wstring& path);
