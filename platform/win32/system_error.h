// Texts and run-time errors for failures that the Windows calls report.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

#include "platform/error.h"
#include "platform/files.h"

namespace wendrix::win32 {

// A readable text for a failing HRESULT: DirectSound's own codes by name, anything else as
// the system describes it, always with the code in hex ("DSERR_NODRIVER (0x88780078): ...").
std::string HResultText(HRESULT hr);
// The same text in `out` (cut to `capacity` characters with the NUL), allocating nothing: for
// failure handlers, which may run because memory ran out.
void HResultTextInto(HRESULT hr, wchar_t* out, size_t capacity) noexcept;

// The HRESULT of a Win32 call that has just failed: its last error as an HRESULT, or E_FAIL
// when it set none (HRESULT_FROM_WIN32(0) would be S_OK, a failure read as success).
HRESULT LastErrorHResult();

// The platform error for a failing COM call: Error::Platform(hr, "<api>: <text>"). An access
// refusal names the microphone's privacy setting, which is what refuses it on Windows 10+.
Error ComError(const char* api, HRESULT hr);

// The platform error for a failing system call that is not DirectSound's (a timer, a thread):
// Error::Platform(hr, "<api>: <the system's text> (0x...)"), never a DirectSound code's name.
Error SystemError(const char* api, HRESULT hr);

// The run-time error a host's own file statements give when a file cannot be opened, written
// or closed, from the system's error code: 76 "Path not found", 70 "Permission denied",
// 61 "Disk full", 75 "Path/File access error" for anything else. The description reads
// `Cannot <verb> "<path>": <what>`, followed by ` (<why>)` when the cause is known: `why`, or
// for a sharing violation and a name too long the system's reason in words.
Error FileError(const char* verb, const std::string& path, DWORD system_error,
                const char* why = nullptr);

// Throws FileError's error as the kind its cause is: FileHeld for a sharing or lock violation,
// VolumeGone when the volume is not there (a device not connected or not ready, a network name
// deleted or unreachable, a drive letter gone), Error otherwise.
[[noreturn]] void ThrowFileError(const char* verb, const std::string& path, DWORD system_error,
                                 const char* why = nullptr);

// Whether a system error code says the volume a file is on is not there (any more).
bool IsVolumeGoneError(DWORD system_error);

// Why Windows refuses to create or open the output file `path` (a full path), given its
// error: ReplaceRefusal's reasons; for access denied, file not found or path not found in a
// folder that exists, to a file without blocking attributes, Windows Security's Controlled
// folder access, which refuses programs it does not know in Documents, Pictures and the Desktop
// (a refused creation may come back as any of the three). "" when no cause is known.
std::string CreateRefusal(const std::wstring& path, DWORD error);

// Why Windows refuses to replace the existing file `path` with CREATE_ALWAYS, given the error
// it gave: access denied over a read-only file, and over a hidden or system file unless the new
// one carries the same attributes ("the file exists and is hidden, which Windows does not
// replace; ..."). "" when that is not the cause.
std::string ReplaceRefusal(const std::wstring& path, DWORD error);

}  // namespace wendrix::win32
