// Wendrix sample: a console recorder in plain C++ and COM (no ATL, MFC or #import), written
// against the header of the package's include folder (Wendrix.h: the dual interface
// _DSWendrixControl and the identifiers as named constants). Built here with MinGW-w64 and run
// under Wine; written to build with Visual C++ 2017 or later as well. Build it with the bitness
// of the Wendrix.ocx you registered.
//
//   wendrix-record [TAKE.wav] [--seconds N] [--expect-signal]
//
// Creates the registered control, listens to its events, opens the default recording device at
// 44100 Hz, stereo, 16 bits, records N seconds (2 by default) while this thread pumps messages
// (the control's timer ticks on the thread that created it), stops, and checks the WAVE file it
// wrote. --expect-signal also fails a take that is digital silence. Without TAKE.wav the take
// is wendrix-sample.wav in the user's Music folder (Documents when there is none), so the
// program may be run from any folder, also a read-only one such as Program Files.
// Exit code 0 when the take is a valid recording, 1 when something failed.
//
// Build, from this folder (..\..\include holds Wendrix.h):
//   cl /EHsc /W4 /I..\..\include record.cpp ole32.lib oleaut32.lib uuid.lib user32.lib shell32.lib
//   x86_64-w64-mingw32-g++ -municode -O2 -I../../include record.cpp -o wendrix-record.exe
//       -lole32 -loleaut32 -luuid -lshell32 -static   (i686-w64-mingw32-g++ for 32 bits)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <shlobj.h>  // SHGetKnownFolderPath: the user's Music folder
// After windows.h: initguid.h makes this file define the GUIDs the header declares
// (CLSID_DSWendrixControl, IID__DSWendrixControl, DIID___DSWendrixControl, LIBID_Wendrix).
#include <ocidl.h>
#include <oleauto.h>
#include <initguid.h>
#include "Wendrix.h"
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

// --- small COM helpers ----------------------------------------------------------------------

// Releases a COM pointer when it goes out of scope.
template <class T>
class Ptr {
 public:
  Ptr() = default;
  ~Ptr() { Reset(); }
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  T** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

// A VARIANT that clears itself.
struct Var : VARIANT {
  Var() { VariantInit(this); }
  ~Var() { VariantClear(this); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

// What a failed call said: the control's run-time error number and the description it left in
// IErrorInfo, as a host would show them (a run-time error n travels as the HRESULT
// 0x800A0000 + n; a device error keeps its own HRESULT).
std::wstring Describe(HRESULT hr) {
  wchar_t number[32];
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL)
    swprintf(number, 32, L"error %d", HRESULT_CODE(hr));
  else
    swprintf(number, 32, L"HRESULT 0x%08lX", static_cast<unsigned long>(hr));
  std::wstring text = number;
  Ptr<IErrorInfo> info;
  BSTR description = nullptr;
  if (GetErrorInfo(0, info.Put()) == S_OK && SUCCEEDED(info->GetDescription(&description)) &&
      description)
    text += std::wstring(L": ") + description;
  SysFreeString(description);
  return text;
}

// Checks the result of one call on the control; on failure prints what the control said.
bool Succeeded(HRESULT hr, const wchar_t* what) {
  if (SUCCEEDED(hr)) return true;
  fwprintf(stderr, L"%ls failed: %ls\n", what, Describe(hr).c_str());
  return false;
}

// The four methods answer True or False. The answer is taken by reference: it is read only
// after the call (the order in which a call's arguments are evaluated is unspecified).
bool Call(HRESULT hr, const VARIANT_BOOL& result, const wchar_t* what) {
  return Succeeded(hr, what) && result != VARIANT_FALSE;
}

// dBLeft and dBRight hold "No Sound" until the meter has measured, then a number in dB.
std::wstring ReadLevel(_DSWendrixControl* control, bool left) {
  Var value;
  HRESULT hr = left ? control->get_dBLeft(&value) : control->get_dBRight(&value);
  if (FAILED(hr) || FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) return L"?";
  return value.bstrVal ? value.bstrVal : L"";
}

// --- the event sink -------------------------------------------------------------------------

// Receives the control's four events. They carry no arguments: a handler reads what it needs
// (dBLeft, dBRight) from the control.
class EventSink : public IDispatch {
 public:
  explicit EventSink(const IID& events) : events_(events) {}

  int starts = 0, stops = 0, left_levels = 0, right_levels = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != events_) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  // The sink lives on Record's stack and outlives its connection: no reference counting needed.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    switch (id) {
      case 1:
        ++left_levels;
        break;  // dBOnChangeLeft: a new left level
      case 2:
        ++right_levels;
        break;  // dBOnChangeRight: a new right level (stereo only)
      case 3:
        ++stops;
        wprintf(L"event OnStop\n");
        break;
      case 4:
        ++starts;
        wprintf(L"event OnStart\n");
        break;
      default:
        break;
    }
    return S_OK;
  }

 private:
  IID events_;
};

// --- the take -------------------------------------------------------------------------------

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Checks a finished take: the control's 46-byte header ("RIFF", "WAVE", an 18-byte "fmt "
// chunk, "data") with both sizes written at stop, the format asked for, and a length that
// fits the time recorded.
bool CheckTake(const std::wstring& path, double seconds, bool expect_signal) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  auto fail = [](const wchar_t* what) {
    fwprintf(stderr, L"take: %ls\n", what);
    return false;
  };
  if (b.size() < 46) return fail(L"shorter than a WAVE header");
  if (std::memcmp(&b[0], "RIFF", 4) || std::memcmp(&b[8], "WAVE", 4) ||
      std::memcmp(&b[12], "fmt ", 4) || std::memcmp(&b[38], "data", 4))
    return fail(L"not the control's RIFF/WAVE layout");
  if (Le32(b, 16) != 18 || Le16(b, 20) != 1) return fail(L"not an 18-byte PCM format chunk");
  if (Le16(b, 22) != 2 || Le32(b, 24) != 44100 || Le16(b, 34) != 16 || Le16(b, 32) != 4 ||
      Le32(b, 28) != 176400)
    return fail(L"not 44100 Hz, stereo, 16 bits");
  const uint32_t data = Le32(b, 42);
  if (data != b.size() - 46 || Le32(b, 4) != b.size() - 8)
    return fail(L"the header's sizes do not match the file");
  if (data % 4 != 0) return fail(L"the data is not whole frames");
  const double recorded = data / 176400.0;
  wprintf(L"take: %u bytes of audio, %.2f s\n", static_cast<unsigned>(data), recorded);
  // The device delivers its first bytes a little after the start, so a take is somewhat
  // shorter than the time between Wendrix_Start and Wendrix_Stop; never longer.
  if (recorded < seconds * 0.4 || recorded > seconds + 0.5)
    return fail(L"its length does not fit the time recorded");
  int peak = 0;
  for (size_t i = 46; i + 1 < b.size(); i += 2) {
    const int sample = static_cast<int16_t>(Le16(b, i));
    peak = std::max(peak, sample < 0 ? -sample : sample);
  }
  wprintf(L"take: peak sample %d of 32767\n", peak);
  if (expect_signal && peak < 1000) return fail(L"it holds no signal");
  return true;
}

// Lets the control's timer run: pumps this thread's messages for a while.
void PumpMessages(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// The user's Music folder, or Documents when there is none; "" when neither is known.
std::wstring UserFolder() {
  for (const KNOWNFOLDERID* id : {&FOLDERID_Music, &FOLDERID_Documents}) {
    PWSTR path = nullptr;
    const bool found = SUCCEEDED(SHGetKnownFolderPath(*id, 0, nullptr, &path)) &&
                       GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    std::wstring folder = found ? path : L"";
    CoTaskMemFree(path);
    if (found) return folder;
  }
  return L"";
}

struct Options {
  std::wstring take;  // as given; "" for the default in the user's own folder
  double seconds = 2;
  bool expect_signal = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--seconds" && i + 1 < argc) {
      o.seconds = _wtof(argv[++i]);
      if (!(o.seconds > 0 && o.seconds <= 3600)) return false;
    } else if (a == L"--expect-signal") {
      o.expect_signal = true;
    } else if (!a.empty() && a[0] != L'-') {
      o.take = a;
    } else {
      return false;
    }
  }
  return true;
}

int Record(const Options& o) {
  // The control is apartment-threaded: create it on a thread that pumps messages. A compiled
  // host asks for the dual interface and calls it through its vtable.
  Ptr<_DSWendrixControl> control;
  HRESULT hr = CoCreateInstance(CLSID_DSWendrixControl, nullptr, CLSCTX_INPROC_SERVER,
                                IID__DSWendrixControl, reinterpret_cast<void**>(control.Put()));
  if (hr == REGDB_E_CLASSNOTREG) {
    fwprintf(stderr,
             L"DSWendrixControl is not registered for %d-bit programs: register the "
             L"Wendrix.ocx of this program's bitness with regsvr32 first\n",
             static_cast<int>(sizeof(void*) * 8));
    return 1;
  }
  if (FAILED(hr)) {
    fwprintf(stderr, L"cannot create the control (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }

  // The events come through the connection point of the event interface.
  Ptr<IConnectionPointContainer> container;
  Ptr<IConnectionPoint> point;
  hr = control->QueryInterface(IID_IConnectionPointContainer,
                               reinterpret_cast<void**>(container.Put()));
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID___DSWendrixControl, point.Put());
  EventSink sink(DIID___DSWendrixControl);
  DWORD cookie = 0;
  if (SUCCEEDED(hr)) hr = point->Advise(&sink, &cookie);
  if (FAILED(hr)) {
    fwprintf(stderr, L"cannot connect to the control's events (0x%08lX)\n",
             static_cast<unsigned long>(hr));
    return 1;
  }

  // A control created in code starts with Enabled False: Wendrix_Start and Wendrix_Stop act
  // only while it is True.
  bool ok = Succeeded(control->put_Enabled(VARIANT_TRUE), L"Enabled") &&
            Succeeded(control->put_SamplesPerSecond(CDQuality), L"SamplesPerSecond") &&
            Succeeded(control->put_NumChannels(Stereo), L"NumChannels") &&
            Succeeded(control->put_BitsPerSample(Sixteen), L"BitsPerSample") &&
            Succeeded(control->put_AutoCalculateBuff(VARIANT_TRUE), L"AutoCalculateBuff");
  // Init_DSWendrix opens the default recording device; it raises an error when there is none.
  VARIANT_BOOL result = VARIANT_FALSE;
  ok = ok && Call(control->Init_DSWendrix(&result), result, L"Init_DSWendrix");

  // Wendrix_Start takes the file name by reference (a BSTR variable) and returns False when
  // it cannot start; it has then shown its reason in a message box.
  // A full path: the control takes a relative one from the current folder, which for a program
  // started from a shortcut or an installed folder is rarely where the user looks.
  std::wstring take = o.take;
  if (take.empty()) {
    const std::wstring folder = UserFolder();
    if (folder.empty())
      fwprintf(stderr, L"neither a Music nor a Documents folder: give TAKE.wav\n");
    else
      take = folder + L"\\wendrix-sample.wav";
  }
  wchar_t full[MAX_PATH];
  const DWORD length = take.empty() ? 0 : GetFullPathNameW(take.c_str(), MAX_PATH, full, nullptr);
  bool recorded = false;
  if (ok && length > 0 && length < MAX_PATH) {
    BSTR name = SysAllocString(full);
    if (Call(control->Wendrix_Start(&name, &result), result, L"Wendrix_Start")) {
      wprintf(L"recording %.1f s into %ls\n", o.seconds, full);
      const DWORD total = static_cast<DWORD>(o.seconds * 1000);
      for (DWORD done = 0; done < total; done += 500) {
        PumpMessages(std::min<DWORD>(500, total - done));
        wprintf(L"  level left %ls dB, right %ls dB\n", ReadLevel(control.Get(), true).c_str(),
                ReadLevel(control.Get(), false).c_str());
      }
      // Wendrix_Stop transfers what is left, finishes the file and raises OnStop. The recording
      // ends whatever the stop meets: a second Wendrix_Stop would return False.
      hr = control->Wendrix_Stop(&result);
      if (FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
        // 61, 70, 75, 76: the file could not be finished (its drive or share went away, the
        // disk is full); it keeps the sizes of its last update.
        fwprintf(stderr, L"the take could not be finished: %ls\n", Describe(hr).c_str());
      } else if (FAILED(hr)) {
        // A device error: it stopped or was removed, and the file was finished with what came
        // before. A program that records again opens the device that is now the default.
        fwprintf(stderr, L"the recording device failed: %ls\ncheck the microphone\n",
                 Describe(hr).c_str());
        if (Call(control->UnInit_DSWendrix(&result), result, L"UnInit_DSWendrix") &&
            Call(control->Init_DSWendrix(&result), result, L"Init_DSWendrix"))
          wprintf(L"the default recording device is open again\n");
      } else if (result == VARIANT_FALSE) {
        fwprintf(stderr, L"Wendrix_Stop did not stop a recording\n");
      }
      recorded = SUCCEEDED(hr) && result != VARIANT_FALSE;
    } else {
      fwprintf(stderr, L"Wendrix_Start returned False\n");
    }
    SysFreeString(name);
  }
  ok = recorded && Call(control->UnInit_DSWendrix(&result), result, L"UnInit_DSWendrix");
  point->Unadvise(cookie);

  wprintf(L"events: OnStart %d, OnStop %d, dBOnChangeLeft %d, dBOnChangeRight %d\n", sink.starts,
          sink.stops, sink.left_levels, sink.right_levels);
  if (ok && (sink.starts != 1 || sink.stops != 1)) {
    fwprintf(stderr, L"expected one OnStart and one OnStop\n");
    ok = false;
  }
  // With the meter shown the control measures five times per half ring, from the second
  // half-second of a recording on.
  if (ok && o.seconds >= 2 && (sink.left_levels == 0 || sink.right_levels == 0)) {
    fwprintf(stderr, L"no level events in a stereo recording\n");
    ok = false;
  }
  if (ok) ok = CheckTake(full, o.seconds, o.expect_signal);
  wprintf(ok ? L"OK\n" : L"FAILED\n");
  return ok ? 0 : 1;
}

// DLLs loaded by name (by this program or by the system's own DLLs) come from the system folder
// only, never from the program's folder or the current one, where a planted copy would run
// inside the program. Called first, before anything loads a library. SetDefaultDllDirectories
// is looked up: Windows 7 has it only with its loader update; without it, the current folder at
// least leaves the search.
void SearchSystemFolderOnly() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (!set || !set(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SearchSystemFolderOnly();
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    fwprintf(stderr, L"usage: wendrix-record [TAKE.wav] [--seconds N] [--expect-signal]\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int rc = Record(options);
  CoUninitialize();
  return rc;
}
