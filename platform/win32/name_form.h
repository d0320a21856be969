// What the form of an output name alone says about it, before anything is opened: a file on a
// disk is named by a drive ("C:\…"), a share ("\\server\share\…") or a volume
// ("\\?\Volume{…}\…"), with or without the \\?\ prefix. The system's device namespace (\\.\,
// \\?\GLOBALROOT, \??\), pipes and mailslots, local or on another machine, and a name with a
// stream (a ':' after the drive) are never files to record into: opening one could talk to a
// device or a pipe's server, or write into a hidden stream of another file.
#pragma once

#include <string>

namespace wendrix::win32 {

// Why `full` (a full path, as GetFullPathNameW gives it: a DOS device name such as NUL or COM1
// is \\.\NUL there) is not the name of a file on a disk, or nullptr.
const char* NameFormRefusal(const std::wstring& full);

}  // namespace wendrix::win32
