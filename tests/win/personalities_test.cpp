// Windows builds and configurations that Wine does not have, played to the built Wendrix.ocx:
// chosen entries of the module's own import table are pointed at fakes that answer as that
// Windows does (the source of each answer is named beside its fake). Every row records, or
// starts and fails, the way a host does, and checks what the user would see.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/win/com_fixture.h"

#include <winternl.h>

#include "platform/win32/native_write.h"

namespace wendrix::com_test {
namespace {

// --- the import table ---------------------------------------------------------------------

// Points the module's import of `dll`!`function` at `fake` until destroyed; `original` is
// what it pointed at.
class ImportPatch {
 public:
  ImportPatch(HMODULE module, const char* dll, const char* function, void* fake) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         dir.VirtualAddress && d->Name; ++d) {
      if (_stricmp(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* by_name =
            reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
        slot_ = reinterpret_cast<void**>(&slots->u1.Function);
        original = *slot_;
        Swap(fake);
        return;
      }
    }
    ADD_FAILURE() << "Wendrix.ocx does not import " << dll << "!" << function;
  }
  ~ImportPatch() {
    if (slot_) Swap(original);
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  void* original = nullptr;

 private:
  void Swap(void* to) {
    DWORD was = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &was);
    *slot_ = to;
    VirtualProtect(slot_, sizeof *slot_, was, &was);
  }
  void** slot_ = nullptr;
};

template <typename F>
std::unique_ptr<ImportPatch> Patch(HMODULE module, const char* dll, const char* function, F fake) {
  return std::make_unique<ImportPatch>(module, dll, function, reinterpret_cast<void*>(fake));
}

// --- what each personality answers ----------------------------------------------------------

// The row under way: its fakes read this.
struct Personality {
  std::vector<std::wstring> boxes;  // every MessageBoxW the control called
  bool box_fails = false;
  DWORD session = 1;
  std::vector<HANDLE> high_resolution_timers;
  bool high_resolution_asked = false;
  bool no_timer_arms = false;
  std::wstring cloud_name;  // a file of this name carries ...
  DWORD first_tag = 0;      // ... this reparse tag when its tag is first asked for,
  DWORD later_tag = 0;      // and this one after
  int tag_questions = 0;
  std::wstring protected_folder;  // creations here are refused with:
  NTSTATUS refusal = 0;
  DWORD final_path_error = 0;
};
Personality g_p;

bool IsCloudFile(HANDLE file) {
  if (g_p.cloud_name.empty()) return false;
  wchar_t name[MAX_PATH * 2] = L"";
  const DWORD n = GetFinalPathNameByHandleW(file, name, MAX_PATH * 2, FILE_NAME_NORMALIZED);
  const size_t want = g_p.cloud_name.size();
  return n >= want && n < MAX_PATH * 2 && _wcsicmp(name + n - want, g_p.cloud_name.c_str()) == 0;
}

int WINAPI FakeMessageBoxW(HWND, LPCWSTR text, LPCWSTR, UINT) {
  g_p.boxes.emplace_back(text);
  // A box that cannot be made (no desktop heap left, a desktop being switched) returns 0.
  if (g_p.box_fails) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return IDOK;
}

// Session 0 is where services run (Windows Vista and later: "Session 0 isolation"); an
// interactive service's window station there is visible, but since Windows 10 1803 no one can
// switch to its desktop (Interactive Services Detection was removed).
BOOL WINAPI FakeProcessIdToSessionId(DWORD, DWORD* session) {
  *session = g_p.session;
  return TRUE;
}

// Windows 10 1809 (LTSC 2019, Server 2019): CREATE_WAITABLE_TIMER_HIGH_RESOLUTION is accepted
// at creation, but SetWaitableTimer with a period fails with ERROR_INVALID_PARAMETER on such a
// timer (python-can issues #1654 and #1695, chriskohlhoff/asio #1404).
constexpr DWORD kHighResolution = 2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
HANDLE WINAPI FakeCreateWaitableTimerExW(SECURITY_ATTRIBUTES* attributes, LPCWSTR name, DWORD flags,
                                         DWORD access) {
  HANDLE timer = CreateWaitableTimerExW(attributes, name, flags & ~kHighResolution, access);
  g_p.high_resolution_asked = g_p.high_resolution_asked || (flags & kHighResolution);
  if (timer && (flags & kHighResolution)) g_p.high_resolution_timers.push_back(timer);
  return timer;
}
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  std::erase(g_p.high_resolution_timers, handle);
  return CloseHandle(handle);
}
BOOL WINAPI FakeSetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due, LONG period,
                                 PTIMERAPCROUTINE apc, void* context, BOOL resume) {
  bool refused = g_p.no_timer_arms && period > 0;
  for (HANDLE t : g_p.high_resolution_timers) refused = refused || (t == timer && period > 0);
  if (refused) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return SetWaitableTimer(timer, due, period, apc, context, resume);
}

// A OneDrive file (Files On Demand, or a folder moved by Known Folder Move) carries the cloud
// files filter's reparse point, IO_REPARSE_TAG_CLOUD_x (0x9000x01A), which is no name
// surrogate; a symbolic link's IO_REPARSE_TAG_SYMLINK is one ("Reparse Point Tags", Microsoft
// Learn).
BOOL WINAPI FakeGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(file, info)) return FALSE;
  if (IsCloudFile(file)) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return TRUE;
}
BOOL WINAPI FakeGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* out,
                                             DWORD size) {
  if (!GetFileInformationByHandleEx(file, kind, out, size)) return FALSE;
  if (kind == FileAttributeTagInfo && IsCloudFile(file)) {
    auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(out);
    tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    tag->ReparseTag = g_p.tag_questions++ == 0 ? g_p.first_tag : g_p.later_tag;
  }
  return TRUE;
}

// Controlled folder access (Microsoft Defender) refuses a program it does not know a new file
// in a protected folder; public reports show the creation failing with "access denied" and
// with "file not found" or "path not found", as if the folder were not there.
NTSTATUS NTAPI FakeNtCreateFile(HANDLE* file, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                                IO_STATUS_BLOCK* status, LARGE_INTEGER* size, ULONG file_attributes,
                                ULONG share, ULONG disposition, ULONG options, void* ea,
                                ULONG ea_length) {
  // The control creates its file inside its folder's handle: the folder is that handle's path.
  wchar_t folder[MAX_PATH] = L"";
  if (disposition == FILE_CREATE && !g_p.protected_folder.empty() && attributes &&
      attributes->RootDirectory &&
      GetFinalPathNameByHandleW(attributes->RootDirectory, folder, MAX_PATH, 0) > 0 &&
      wcsstr(folder, g_p.protected_folder.c_str()) != nullptr) {
    return g_p.refusal;
  }
  return NtCreateFile(file, access, attributes, status, size, file_attributes, share, disposition,
                      options, ea, ea_length);
}

// Some network redirectors (and file systems of other vendors) cannot name a handle's path.
DWORD WINAPI FakeGetFinalPathNameByHandleW(HANDLE, LPWSTR, DWORD, DWORD) {
  SetLastError(g_p.final_path_error);
  return 0;
}

// A suspension's clocks: the performance counter runs on through every sleep, the unbiased
// interrupt time leaves sleep and hibernation out ("QueryUnbiasedInterruptTime", Microsoft
// Learn) but runs on through a modern standby. The jumps come at once, so that no real time
// passes for the device or the control's threads, as for a machine where nothing ran. The
// clocks are the fakes' for the whole program, and only ever move forward.
std::atomic<LONGLONG> g_counter_jump_s{0}, g_interrupt_jump_s{0};
BOOL WINAPI FakeQueryPerformanceCounter(LARGE_INTEGER* counter) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  if (!QueryPerformanceCounter(counter)) return FALSE;
  counter->QuadPart += g_counter_jump_s.load() * frequency.QuadPart;
  return TRUE;
}
BOOL WINAPI FakeQueryUnbiasedInterruptTime(ULONGLONG* hundreds) {
  if (!QueryUnbiasedInterruptTime(hundreds)) return FALSE;
  *hundreds += g_interrupt_jump_s.load() * 10000000;
  return TRUE;
}

// Windows 8 and later announce a suspension and the wake after it to the callback given to
// PowerRegisterSuspendResumeNotification (powrprof.dll, found by GetProcAddress): PBT_APMSUSPEND,
// then PBT_APMRESUMEAUTOMATIC. Wine never suspends; here the callback is kept and called.
using PowerCallback = ULONG(CALLBACK*)(void*, ULONG, void*);
struct PowerSubscription {
  PowerCallback callback;
  void* context;
};
PowerSubscription g_power{};
DWORD WINAPI FakePowerRegister(DWORD, HANDLE recipient, void** registration) {
  g_power = *static_cast<PowerSubscription*>(recipient);
  *registration = &g_power;
  return ERROR_SUCCESS;
}
DWORD WINAPI FakePowerUnregister(void*) {
  g_power = {};
  return ERROR_SUCCESS;
}
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  const bool by_name = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
  if (by_name && std::strcmp(name, "PowerRegisterSuspendResumeNotification") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakePowerRegister));
  if (by_name && std::strcmp(name, "PowerUnregisterSuspendResumeNotification") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakePowerUnregister));
  return GetProcAddress(module, name);
}
void Announce(ULONG event) {
  if (g_power.callback) g_power.callback(g_power.context, event, nullptr);
}

// FAT and exFAT number a file by where its directory entry is: a new file in a freed entry gets
// the index of the removed one ("BY_HANDLE_FILE_INFORMATION": "In the FAT file system, the file
// ID is generated from the first cluster of the containing directory and the byte offset within
// the directory of the entry for the file"), and they give no 128-bit id (FileIdInfo is NTFS's
// and ReFS's). Here the recording's handle also fails the last write of the header sizes (a
// network or USB hiccup), so that the stop patches the file by its name instead.
constexpr DWORD kFatIndex = 0x42;
BOOL WINAPI FakeFatVolumeName(HANDLE file, LPWSTR, DWORD, DWORD* serial, DWORD*, DWORD*,
                              LPWSTR system, DWORD size) {
  if (!GetVolumeInformationByHandleW(file, nullptr, 0, serial, nullptr, nullptr, system, size))
    return FALSE;
  if (system && size > 5) wcscpy(system, L"exFAT");
  return TRUE;
}
BOOL WINAPI FakeFatIndex(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(file, info)) return FALSE;
  info->nFileIndexHigh = 0;
  info->nFileIndexLow = kFatIndex;
  return TRUE;
}
BOOL WINAPI FakeFatInfoEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* out, DWORD size) {
  if (kind == static_cast<FILE_INFO_BY_HANDLE_CLASS>(18)) {  // FileIdInfo
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return GetFileInformationByHandleEx(file, kind, out, size);
}
std::atomic<bool> g_header_write_fails{false};  // the data's size, at 42
std::atomic<bool> g_audio_write_fails{false};   // the audio, from 46 on
NTSTATUS NTAPI FakeNtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, void* context,
                               IO_STATUS_BLOCK* status, const void* data, ULONG count,
                               LARGE_INTEGER* at, ULONG* key) {
  constexpr auto kDiskFull = static_cast<NTSTATUS>(0xC000007F);  // STATUS_DISK_FULL
  if (at && ((g_header_write_fails && at->QuadPart == 42 && count == 4) ||
             (g_audio_write_fails && at->QuadPart >= 46)))
    return kDiskFull;
  return NtWriteFile(file, event, apc, context, status, data, count, at, key);
}

// --- a host's session with the control ------------------------------------------------------

std::vector<std::string> g_debug_lines;

LONG CALLBACK SeeDebugOutput(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD& r = *e->ExceptionRecord;
  if (r.ExceptionCode == DBG_PRINTEXCEPTION_C && r.NumberParameters >= 2)
    g_debug_lines.emplace_back(reinterpret_cast<const char*>(r.ExceptionInformation[1]));
  return EXCEPTION_CONTINUE_SEARCH;
}

std::string ReadFile(const std::wstring& path) {
  std::string bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  char chunk[65536];
  DWORD n = 0;
  while (::ReadFile(f, chunk, sizeof chunk, &n, nullptr) && n) bytes.append(chunk, n);
  CloseHandle(f);
  return bytes;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

const std::string kOldTake = "an earlier take, kept unless a recording replaces it";

// What a row leaves to be judged.
struct Session {
  bool started = false;
  std::string file;        // the file's bytes after the session
  std::string boxes;       // the boxes' texts, one a line, but for ...
  std::string losses;      // ... the position watch's reports of lost audio (its own tests' matter)
  size_t reports = 0;      // lines the control wrote to the debugger output
  std::string stop_error;  // what Wendrix_Stop raised
};

struct Row {
  const char* personality;
  std::function<void(HMODULE, std::vector<std::unique_ptr<ImportPatch>>&)> install;
  const wchar_t* file;  // in the test's folder
  bool file_exists;     // made beforehand with kOldTake
  std::function<void(const Session&)> check;
  std::function<void()> during = nullptr;  // two seconds into the recording
};

void ExpectTake(const Session& s) {
  EXPECT_TRUE(s.started) << s.boxes;
  EXPECT_EQ(s.boxes, "");
  EXPECT_EQ(s.stop_error, "");
  ASSERT_GT(s.file.size(), 46u) << "no audio in the take";
  EXPECT_EQ(s.file.compare(0, 4, "RIFF"), 0);
  uint32_t data = 0;
  std::memcpy(&data, s.file.data() + 42, 4);
  EXPECT_EQ(data, s.file.size() - 46) << "the header does not give the data's size";
}

void ExpectRefusal(const Session& s, const char* named, const std::string& file_after) {
  EXPECT_FALSE(s.started);
  EXPECT_NE(s.boxes.find(named), std::string::npos) << s.boxes;
  EXPECT_EQ(s.file, file_after) << "the file was changed by a start that was refused";
}

// The take went on across a sleep: one box says so, none tells a loss, no silence stands for it.
void ExpectOneSleep(const Session& s) {
  EXPECT_TRUE(s.started);
  EXPECT_EQ(s.stop_error, "");
  const size_t box = s.boxes.find("the computer was asleep for ");
  EXPECT_NE(box, std::string::npos) << s.boxes << s.losses;
  EXPECT_EQ(box, s.boxes.rfind("the computer was asleep")) << s.boxes;
  EXPECT_EQ(s.losses.find("at least"), std::string::npos) << s.losses;
  EXPECT_LT(s.file.size(), 46u + 5 * 176400u) << "silence was written for the sleep";
}

void NoMore(HMODULE, std::vector<std::unique_ptr<ImportPatch>>&) {}

void ControlledFolderAccess(HMODULE module, std::vector<std::unique_ptr<ImportPatch>>& patches,
                            NTSTATUS refusal) {
  g_p.protected_folder = L"wendrix-personality";
  g_p.refusal = refusal;
  patches.push_back(Patch(module, "ntdll.dll", "NtCreateFile", &FakeNtCreateFile));
}

void ExpectControlledFolderAccess(const Session& s) {
  ExpectRefusal(s, "Controlled folder access", "");
  EXPECT_NE(s.boxes.find("Permission denied"), std::string::npos) << s.boxes;
}

void CloudFile(HMODULE module, std::vector<std::unique_ptr<ImportPatch>>& patches, DWORD first,
               DWORD later) {
  g_p.cloud_name = L"cloudtake.wav";
  g_p.first_tag = first;
  g_p.later_tag = later;
  patches.push_back(
      Patch(module, "kernel32.dll", "GetFileInformationByHandle", &FakeGetFileInformationByHandle));
  patches.push_back(Patch(module, "kernel32.dll", "GetFileInformationByHandleEx",
                          &FakeGetFileInformationByHandleEx));
}

constexpr DWORD kCloudTag = 0x9000601A;    // IO_REPARSE_TAG_CLOUD_6
constexpr DWORD kSymlinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK

const Row kRows[] = {
    {"Windows 10 1809: a high-resolution timer is made but not armed as a periodic one",
     [](HMODULE m, auto& p) {
       p.push_back(Patch(m, "kernel32.dll", "CreateWaitableTimerExW", &FakeCreateWaitableTimerExW));
       p.push_back(Patch(m, "kernel32.dll", "SetWaitableTimer", &FakeSetWaitableTimer));
       p.push_back(Patch(m, "kernel32.dll", "CloseHandle", &FakeCloseHandle));
     },
     L"timertake.wav", false,
     [](const Session& s) {
       ExpectTake(s);
       EXPECT_TRUE(g_p.high_resolution_asked) << "no high-resolution timer was asked for";
     }},
    {"no timer can be armed: the error is the timer's, in the system's words",
     [](HMODULE m, auto& p) {
       g_p.no_timer_arms = true;
       p.push_back(Patch(m, "kernel32.dll", "SetWaitableTimer", &FakeSetWaitableTimer));
     },
     L"notimer.wav", false,
     [](const Session& s) {
       ExpectRefusal(s, "SetWaitableTimer: ", "");
       EXPECT_EQ(s.boxes.find("DSERR"), std::string::npos) << s.boxes;
       EXPECT_NE(s.boxes.find("(0x80070057)"), std::string::npos) << s.boxes;
     }},
    {"OneDrive: an existing take is a cloud placeholder",
     [](HMODULE m, auto& p) { CloudFile(m, p, kCloudTag, kCloudTag); }, L"cloudtake.wav", true,
     ExpectTake},
    {"a symbolic link's tag on the file",
     [](HMODULE m, auto& p) { CloudFile(m, p, kSymlinkTag, kSymlinkTag); }, L"cloudtake.wav", true,
     [](const Session& s) { ExpectRefusal(s, "is a link", kOldTake); }},
    {"a link at the name by the time it is opened through the filter",
     [](HMODULE m, auto& p) { CloudFile(m, p, kCloudTag, kSymlinkTag); }, L"cloudtake.wav", true,
     [](const Session& s) { ExpectRefusal(s, "is a link", kOldTake); }},
    {"Controlled folder access refuses the creation: access denied",
     [](HMODULE m, auto& p) { ControlledFolderAccess(m, p, 0xC0000022 /* STATUS_ACCESS_DENIED */); },
     L"wendrix-personality\\take.wav", false, ExpectControlledFolderAccess},
    {"Controlled folder access refuses the creation: file not found",
     [](HMODULE m, auto& p) { ControlledFolderAccess(m, p, 0xC0000034 /* STATUS_OBJECT_NAME_NOT_FOUND */); },
     L"wendrix-personality\\take.wav", false, ExpectControlledFolderAccess},
    {"Controlled folder access refuses the creation: path not found",
     [](HMODULE m, auto& p) { ControlledFolderAccess(m, p, 0xC000003A /* STATUS_OBJECT_PATH_NOT_FOUND */); },
     L"wendrix-personality\\take.wav", false, ExpectControlledFolderAccess},
    {"a redirector that cannot name a handle's final path",
     [](HMODULE m, auto& p) {
       g_p.final_path_error = ERROR_NOT_SUPPORTED;
       p.push_back(
           Patch(m, "kernel32.dll", "GetFinalPathNameByHandleW", &FakeGetFinalPathNameByHandleW));
     },
     L"redirected.wav", false, ExpectTake},
    {"a box that cannot be shown: the report goes to the debugger output",
     [](HMODULE, auto&) { g_p.box_fails = true; }, L"nowhere\\take.wav", false,
     [](const Session& s) {
       EXPECT_FALSE(s.started);
       EXPECT_NE(s.boxes, "");
       EXPECT_EQ(s.reports, 1u);
     }},
    {"session 0 (a service): no box, the report goes to the debugger output",
     [](HMODULE m, auto& p) {
       g_p.session = 0;
       p.push_back(Patch(m, "kernel32.dll", "ProcessIdToSessionId", &FakeProcessIdToSessionId));
     },
     L"nowhere\\take.wav", false,
     [](const Session& s) {
       EXPECT_FALSE(s.started);
       EXPECT_EQ(s.boxes, "");
       EXPECT_EQ(s.reports, 1u);
     }},
    {"exFAT: a new file in the take's freed entry, when the stop must patch by name",
     [](HMODULE m, auto& p) {
       g_header_write_fails = false;
       p.push_back(Patch(m, "kernel32.dll", "GetVolumeInformationByHandleW", &FakeFatVolumeName));
       p.push_back(Patch(m, "kernel32.dll", "GetFileInformationByHandle", &FakeFatIndex));
       p.push_back(Patch(m, "kernel32.dll", "GetFileInformationByHandleEx", &FakeFatInfoEx));
       p.push_back(Patch(m, "ntdll.dll", "NtWriteFile", &FakeNtWriteFile));
     },
     L"fattake.wav", false,
     [](const Session& s) {
       EXPECT_TRUE(s.started);
       EXPECT_NE(s.stop_error.find("another file has taken its name"), std::string::npos)
           << s.stop_error;
       EXPECT_EQ(s.file, kOldTake) << "the new file was patched with the take's sizes";
     },
     [] {
       wchar_t temp[MAX_PATH];
       GetTempPathW(MAX_PATH, temp);
       const std::wstring path = std::wstring(temp) + L"fattake.wav";
       DeleteFileW((path + L".old").c_str());
       EXPECT_TRUE(MoveFileW(path.c_str(), (path + L".old").c_str()));
       WriteFile(path, kOldTake);
       g_header_write_fails = true;
     }},
    {"a full disk: the audio's writes fail, the file keeps what was written before",
     [](HMODULE m, auto& p) {
       g_header_write_fails = g_audio_write_fails = false;
       p.push_back(Patch(m, "ntdll.dll", "NtWriteFile", &FakeNtWriteFile));
     },
     L"fulltake.wav", false,
     [](const Session& s) {
       EXPECT_TRUE(s.started);
       EXPECT_EQ(s.stop_error, "");
       ASSERT_GE(s.file.size(), 46u);
       const std::string kept = "it keeps the " + std::to_string(s.file.size() - 46) + " bytes";
       EXPECT_NE(s.boxes.find("(is the disk full?); " + kept), std::string::npos) << s.boxes;
       EXPECT_EQ(std::count(s.boxes.begin(), s.boxes.end(), '\n'), 1) << s.boxes;
       uint32_t riff = 0, data = 0;
       std::memcpy(&riff, s.file.data() + 4, 4);
       std::memcpy(&data, s.file.data() + 42, 4);
       EXPECT_EQ(riff, s.file.size() - 8);
       EXPECT_EQ(data, s.file.size() - 46);
     },
     [] { g_audio_write_fails = true; }},
    {"sleep (S3): the counter runs on, the interrupt time leaves the 30 s out", NoMore,
     L"sleep.wav", false, ExpectOneSleep, [] { g_counter_jump_s += 30; }},
    {"modern standby, unannounced: both clocks jump 30 s, the watch and the device stood still",
     NoMore, L"standby.wav", false, ExpectOneSleep,
     [] {
       g_counter_jump_s += 30;
       g_interrupt_jump_s += 30;
     }},
    {"modern standby, announced: both clocks run on, the wake comes 30 s after the suspension",
     NoMore, L"announced.wav", false, ExpectOneSleep,
     [] {
       ASSERT_TRUE(g_power.callback) << "no suspend/resume notification was asked for";
       Announce(PBT_APMSUSPEND);
       g_counter_jump_s += 30;
       g_interrupt_jump_s += 30;
       Announce(PBT_APMRESUMEAUTOMATIC);
     }},
};

TEST(Personalities, EachWindowsPlayedToTheControl) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  HMODULE module = GetModuleHandleW(OcxPath().c_str());
  ASSERT_NE(module, nullptr);
  PVOID handler = AddVectoredExceptionHandler(1, SeeDebugOutput);
  Var yes = Var::Bool(true), no = Var::Bool(false), ring = Var::I4(176400);  // a 1 s ring
  Call(control.Get(), L"Enabled", {&yes}, DISPATCH_PROPERTYPUT);
  Call(control.Get(), L"AutoCalculateBuff", {&no}, DISPATCH_PROPERTYPUT);
  Call(control.Get(), L"BufferLength", {&ring}, DISPATCH_PROPERTYPUT);
  ImportPatch counter(module, "kernel32.dll", "QueryPerformanceCounter",
                      reinterpret_cast<void*>(&FakeQueryPerformanceCounter));
  ImportPatch interrupt_time(module, "kernel32.dll", "QueryUnbiasedInterruptTime",
                             reinterpret_cast<void*>(&FakeQueryUnbiasedInterruptTime));
  bool device = false;
  {
    // The power notifications are looked up once, as the first device is made.
    ImportPatch lookup(module, "kernel32.dll", "GetProcAddress",
                       reinterpret_cast<void*>(&FakeGetProcAddress));
    device = Call(control.Get(), L"Init_DSWendrix");
  }
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"wendrix-personality";
  CreateDirectoryW(folder.c_str(), nullptr);
  for (const Row& row : kRows) {
    if (!device) break;
    SCOPED_TRACE(row.personality);
    g_p = Personality{};
    g_debug_lines.clear();
    const std::wstring path = std::wstring(temp) + row.file;
    DeleteFileW(path.c_str());
    if (row.file_exists) WriteFile(path, kOldTake);
    Session s;
    {
      std::vector<std::unique_ptr<ImportPatch>> patches;
      patches.push_back(Patch(module, "user32.dll", "MessageBoxW", &FakeMessageBoxW));
      row.install(module, patches);
      Var name = Var::Str(path.c_str());
      s.started = Call(control.Get(), L"Wendrix_Start", {&name});
      if (s.started) {
        // PulseAudio delivers a new stream's first bytes up to a second after the start.
        PumpFor(2000);
        if (row.during) row.during(), PumpFor(1500);
        Outcome stop;
        InvokeByName(control.Get(), L"Wendrix_Stop", DISPATCH_METHOD, {}, stop);
        if (FAILED(stop.hr) && stop.exception.bstrDescription)
          s.stop_error = Narrow(stop.exception.bstrDescription);
        if (FAILED(stop.hr) && s.stop_error.empty()) s.stop_error = "(no description)";
      }
    }
    for (const std::wstring& box : g_p.boxes) {
      const bool loss = box.find(L"audio were lost") != std::wstring::npos ||
                        box.find(L"audio was lost") != std::wstring::npos;
      (loss ? s.losses : s.boxes) += Narrow(box) + "\n";
    }
    for (const std::string& line : g_debug_lines) s.reports += line.rfind("Wendrix: ", 0) == 0;
    s.file = ReadFile(path);
    row.check(s);
    // No row's device starts its positions over: a reset told is one the watch invented.
    EXPECT_EQ(s.losses.find("driver reset"), std::string::npos) << s.losses;
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".old").c_str());
  }
  if (device) Call(control.Get(), L"UnInit_DSWendrix");
  RemoveDirectoryW(folder.c_str());
  RemoveVectoredExceptionHandler(handler);
  EXPECT_EQ(ReleaseLast(control), 0u);
  if (!device) GTEST_SKIP() << "no recording device";
}

}  // namespace
}  // namespace wendrix::com_test
