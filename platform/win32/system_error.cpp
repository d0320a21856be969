#include "platform/win32/system_error.h"

#include <iterator>

#include "platform/device_errors.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {
namespace {

struct NamedCode {
  uint32_t code;
  const char* name;
  const char* text;
};

// DirectSound's failure codes and those of the audio engine beneath it; the system's message
// table does not describe them.
constexpr NamedCode kDirectSoundCodes[] = {
    {0x88890004u, "AUDCLNT_E_DEVICE_INVALIDATED",
     "the recording device was unplugged, disabled or reset"},
    {0x8889000Au, "AUDCLNT_E_DEVICE_IN_USE",
     "another program holds the recording device in exclusive mode; close that program, or "
     "clear \"Allow applications to take exclusive control of this device\" on the Advanced "
     "tab of the device's properties in the Sound control panel"},
    {0x88890010u, "AUDCLNT_E_SERVICE_NOT_RUNNING",
     "the Windows Audio service is not running; start it (Services, \"Windows Audio\") and "
     "call Init_DSWendrix again"},
    {0x88890026u, "AUDCLNT_E_RESOURCES_INVALIDATED",
     "Windows took the device's resources back (the device was reset or the system resumed "
     "from sleep); call Init_DSWendrix again"},
    {0x8878000Au, "DSERR_ALLOCATED", "the device is in use by another caller"},
    {0x8878001Eu, "DSERR_CONTROLUNAVAIL", "the control is not available on this buffer"},
    {0x80070057u, "DSERR_INVALIDPARAM", "an invalid parameter was passed"},
    {0x88780032u, "DSERR_INVALIDCALL", "the call is not valid in the object's current state"},
    {0x80004005u, "DSERR_GENERIC", "an undetermined error occurred in DirectSound"},
    {0x88780046u, "DSERR_PRIOLEVELNEEDED", "the caller does not have the priority it needs"},
    {0x8007000Eu, "DSERR_OUTOFMEMORY", "not enough memory"},
    {0x88780064u, "DSERR_BADFORMAT", "the wave format is not supported"},
    {0x80004001u, "DSERR_UNSUPPORTED", "the function is not supported"},
    {0x88780078u, "DSERR_NODRIVER", "no sound driver is available (no recording device)"},
    {0x88780082u, "DSERR_ALREADYINITIALIZED", "the object is already initialised"},
    {0x80040110u, "DSERR_NOAGGREGATION", "the object does not support aggregation"},
    {0x88780096u, "DSERR_BUFFERLOST", "the buffer memory has been lost"},
    {0x887800A0u, "DSERR_OTHERAPPHASPRIO", "another application has a higher priority"},
    {0x887800AAu, "DSERR_UNINITIALIZED", "the object is not initialised"},
    {0x80004002u, "DSERR_NOINTERFACE", "the interface is not supported"},
    {0x80070005u, "DSERR_ACCESSDENIED", "access is denied"},
};

// Appends to a fixed buffer, cutting what does not fit; the buffer always ends in a NUL.
class TextBuffer {
 public:
  TextBuffer(wchar_t* out, size_t capacity) : out_(out), capacity_(capacity) { out_[0] = 0; }
  void Add(const char* ascii) {
    while (*ascii) Put(static_cast<wchar_t>(static_cast<unsigned char>(*ascii++)));
  }
  void Add(const wchar_t* text) {
    while (*text) Put(*text++);
  }
  void AddHex(uint32_t code) {
    Add("0x");
    for (int shift = 28; shift >= 0; shift -= 4) Put(L"0123456789ABCDEF"[(code >> shift) & 0xF]);
  }

 private:
  void Put(wchar_t c) {
    if (length_ + 1 >= capacity_) return;
    out_[length_++] = c;
    out_[length_] = 0;
  }
  wchar_t* out_;
  size_t capacity_;
  size_t length_ = 0;
};

// The system's description of `code`, or "error 0x...".
void SystemTextInto(uint32_t code, TextBuffer& text) noexcept {
  wchar_t message[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, message, static_cast<DWORD>(std::size(message)), nullptr);
  while (n > 0 && (message[n - 1] == L'\n' || message[n - 1] == L'\r' || message[n - 1] == L' ' ||
                   message[n - 1] == L'.'))
    --n;
  message[n] = 0;
  if (n == 0) {
    text.Add("error ");
    text.AddHex(code);
    return;
  }
  text.Add(message);
  text.Add(" (");
  text.AddHex(code);
  text.Add(")");
}

}  // namespace

void HResultTextInto(HRESULT hr, wchar_t* out, size_t capacity) noexcept {
  if (capacity == 0) return;
  TextBuffer text(out, capacity);
  const auto code = static_cast<uint32_t>(hr);
  for (const NamedCode& c : kDirectSoundCodes) {
    if (c.code != code) continue;
    text.Add(c.name);
    text.Add(" (");
    text.AddHex(code);
    text.Add("): ");
    text.Add(c.text);
    return;
  }
  SystemTextInto(code, text);
}

std::string HResultText(HRESULT hr) {
  wchar_t text[1024];
  HResultTextInto(hr, text, std::size(text));
  return Narrow(std::wstring(text));
}

HRESULT LastErrorHResult() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

namespace {

// Whether `api` creates or starts the capture device: on Windows 10 and later a microphone kept
// from desktop programs by its privacy setting fails there with whatever the driver makes of it
// (E_ACCESSDENIED, DSERR_BADFORMAT, DSERR_GENERIC, ...), so the setting is named with any code.
bool OpensCapture(const std::string& api) {
  if (api == "IDirectSoundCaptureBuffer::Start") return true;
  return api.find("DirectSoundCapture") != std::string::npos &&
         api.rfind("IDirectSoundCaptureBuffer::", 0) != 0;
}

}  // namespace

Error ComError(const char* api, HRESULT hr) {
  std::string text = std::string(api) + ": " + HResultText(hr);
  if (OpensCapture(api)) {
    text += std::string("; ") + kMicrophonePrivacyHint;
  } else if (hr == E_ACCESSDENIED) {
    // Windows 10 (1803) and later refuse the microphone this way when its privacy setting
    // keeps desktop programs from it.
    text +=
        "; Windows may be keeping this program from the microphone: allow \"desktop apps\" to "
        "access the microphone under Settings > Privacy > Microphone (Windows 11: Settings > "
        "Privacy & security > Microphone)";
  }
  return Error::Platform(static_cast<uint32_t>(hr), text);
}

Error SystemError(const char* api, HRESULT hr) {
  wchar_t text[1024];
  TextBuffer buffer(text, std::size(text));
  SystemTextInto(static_cast<uint32_t>(hr), buffer);
  return Error::Platform(static_cast<uint32_t>(hr), std::string(api) + ": " + Narrow(text));
}

Error FileError(const char* verb, const std::string& path, DWORD system_error, const char* why) {
  int32_t number = errc::PathFileAccess;
  const char* what = "Path/File access error";
  switch (system_error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      number = errc::PathNotFound;
      what = "Path not found";
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      number = errc::PermissionDenied;
      what = "Permission denied";
      if (!why) why = "another program has the file open";
      break;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      what = "Path/File access error";
      if (!why) why = "the name is too long: a part of it is longer than the file system allows";
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      number = errc::PermissionDenied;
      what = "Permission denied";
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      number = errc::DiskFull;
      what = "Disk full";
      break;
    default:
      if (IsVolumeGoneError(system_error) && !why)
        why = "the drive or network share is not there: it was removed or disconnected";
      break;
  }
  std::string text = std::string("Cannot ") + verb + " \"" + path + "\": " + what;
  if (why) {
    text += " (";
    text += why;
    text += ")";
  }
  return Error(number, text);
}

bool IsVolumeGoneError(DWORD system_error) {
  switch (system_error) {
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_VC_DISCONNECTED:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return true;
    default:
      return false;
  }
}

void ThrowFileError(const char* verb, const std::string& path, DWORD system_error,
                    const char* why) {
  const Error error = FileError(verb, path, system_error, why);
  if (system_error == ERROR_SHARING_VIOLATION || system_error == ERROR_LOCK_VIOLATION)
    throw FileHeld(error.number(), error.description());
  if (IsVolumeGoneError(system_error)) throw VolumeGone(error.number(), error.description());
  throw error;
}

std::string CreateRefusal(const std::wstring& path, DWORD error) {
  // Controlled folder access refuses a creation with "access denied" or with one of the
  // not-found codes, as if the folder were not there.
  if (error != ERROR_ACCESS_DENIED && error != ERROR_FILE_NOT_FOUND &&
      error != ERROR_PATH_NOT_FOUND)
    return {};
  if (std::string why = ReplaceRefusal(path, error); !why.empty()) return why;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  const DWORD folder = GetFileAttributesW(path.substr(0, slash + 1).c_str());
  if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return "the folder exists, and Windows Security's Controlled folder access may be keeping "
         "this program out of it: allow the program under Windows Security > Virus & threat "
         "protection > Ransomware protection > Allow an app through Controlled folder access, "
         "or choose another folder";
}

std::string ReplaceRefusal(const std::wstring& path, DWORD error) {
  if (error != ERROR_ACCESS_DENIED) return {};
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  std::string kinds;
  const auto add = [&](DWORD attribute, const char* kind) {
    if (!(attributes & attribute)) return;
    if (!kinds.empty()) kinds += " and ";
    kinds += kind;
  };
  add(FILE_ATTRIBUTE_READONLY, "read-only");
  add(FILE_ATTRIBUTE_HIDDEN, "hidden");
  add(FILE_ATTRIBUTE_SYSTEM, "a system file");
  if (kinds.empty()) return {};
  return "the file exists and is " + kinds +
         ", which Windows does not replace; clear that attribute or choose another name";
}

}  // namespace wendrix::win32
