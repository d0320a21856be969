// Which file an open handle is, told apart from every other file of its volume, also one that
// later takes the same place on it.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/files.h"

namespace wendrix::win32 {

// The identity of the file `file` is open on: the volume's serial number and the file's 128-bit
// id where the system gives one (NTFS, ReFS, whose ids only fit in 128 bits), else the 64-bit
// index. FAT and exFAT derive the index from where the file's entry is, which a new file in the
// freed entry takes over: there the creation time is part of it too. A FileIdentity{} when the
// handle cannot be asked.
FileIdentity IdentityOf(HANDLE file);

}  // namespace wendrix::win32
