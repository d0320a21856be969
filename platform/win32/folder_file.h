// Opening a file by its name inside a folder that was opened first. The folder is opened once,
// following any link or junction on the way to it (a Documents folder redirected to another
// drive is an ordinary setup); the file is then opened relative to that folder's handle, so a
// folder renamed and replaced by a link in the meantime cannot send the file elsewhere: the
// name is looked up in the folder that was opened, whatever its path has come to mean.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

#include "platform/win32/unique_handle.h"

namespace wendrix::win32 {

// The folder `folder` (a path as the file calls take it, ending in a separator or not), opened
// to look names up in; an invalid handle with the system's error in `error` when it cannot be
// (a folder that is not there, or a file where a folder is named, is ERROR_PATH_NOT_FOUND).
UniqueFile OpenFolder(const std::wstring& folder, DWORD& error);

// The file `name` (one component) in `folder`, opened for reading and writing as CreateFileW
// would with the same access, sharing and `disposition` (OPEN_EXISTING or CREATE_NEW), without
// following a link at the name itself, and with a security quality of service that lets a
// pipe's server only identify the host. An invalid handle with the Win32 error in `error`.
UniqueFile OpenInFolder(HANDLE folder, const std::wstring& name, DWORD share, DWORD disposition,
                        DWORD& error);

// The file `name` in `folder` opened only to ask what it is (its attributes and identity), which
// no other opening's sharing keeps out; an invalid handle when it cannot be. A link at the name is
// opened itself.
UniqueFile LookAtInFolder(HANDLE folder, const std::wstring& name);

// Whether the system's final path of `file` is the final path of `folder` followed by `name`:
// the file is the one of that name in that folder, not one a link at the name leads to, which a
// file system that follows its own links silently (as Wine's does) shows only here, whatever
// the target's name. A short (8.3) name counts as its long one. Where the system cannot tell a
// final path (some network redirectors) the file is taken as opened.
bool IsNamedInFolder(HANDLE file, HANDLE folder, const std::wstring& name);

// Whether the system removes a file marked for deletion by the name it was opened with rather
// than as the file the handle is open on. Wine does: its server unlinks, at the last close, the
// path it stored at the opening, whatever that path has come to name (the file renamed and
// another put in its place, or a folder above replaced by a link). Windows deletes the file the
// handle is open on, under whatever name it has.
bool DeletesByName();

// Lets go of a file this process created and will not keep. Where deletion follows the handle
// (`by_name` false) it is marked for removal when its last handle closes; the right to delete
// is taken only now, on a second handle reopened from this one (a handle that held it for the
// whole recording would keep out every reader that does not share deletion: players, sox,
// Explorer's preview). Where deletion would go by name, nothing is deleted: no check of the
// name can hold until the last close, so the file is emptied through its handle and left, and
// only the file created here is touched.
void LetGoOfCreated(HANDLE file, bool by_name);

}  // namespace wendrix::win32
