// Absolute paths on Windows: the one resolution of a recording's file name, and the form in
// which a long path reaches the file system.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::win32 {

// GetFullPathNameW of `path` against the process's current directory (and the drive's, for
// "C:take.wav"), or "" with the system's error in `error`.
std::wstring FullPathWide(const std::wstring& path, DWORD& error);

// `path` as the file calls must be given it: unchanged when it is short, else made absolute
// and given the \\?\ (or \\?\UNC\) prefix, without which a path of MAX_PATH characters or more
// fails unless the host process declares itself long-path aware. The prefix turns the
// system's own parsing off, so the path is normalised by GetFullPathNameW first.
std::wstring ExtendedLengthPath(const std::wstring& path);

}  // namespace wendrix::win32
