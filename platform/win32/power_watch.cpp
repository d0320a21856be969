#include "platform/win32/power_watch.h"

#include <atomic>

#include "platform/win32/this_module.h"

namespace wendrix::win32 {
namespace {

// The parts of <powrprof.h> and <powerbase.h> used here (not in every SDK's headers).
constexpr DWORD kDeviceNotifyCallback = 2;  // DEVICE_NOTIFY_CALLBACK
using NotifyRoutine = ULONG(CALLBACK*)(void* context, ULONG type, void* setting);
struct SubscribeParameters {  // DEVICE_NOTIFY_SUBSCRIBE_PARAMETERS
  NotifyRoutine callback;
  void* context;
};
using RegisterFn = DWORD(WINAPI*)(DWORD flags, HANDLE recipient, void** registration);
using UnregisterFn = DWORD(WINAPI*)(void* registration);

const wchar_t kClassName[] = L"WendrixPowerWatch";

std::atomic<int64_t (*)()> g_clock{nullptr};

void Announce(WPARAM event) {
  const auto clock = g_clock.load();
  if (!clock) return;
  switch (event) {
    case PBT_APMSUSPEND:
      PowerWatch::Pauses().Suspending(clock());
      break;
    case PBT_APMRESUMEAUTOMATIC:  // every wake; a user's input adds PBT_APMRESUMESUSPEND
    case PBT_APMRESUMESUSPEND:
      PowerWatch::Pauses().Resumed(clock());
      break;
    default:
      break;
  }
}

ULONG CALLBACK OnNotify(void*, ULONG type, void*) {
  Announce(type);
  return ERROR_SUCCESS;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_POWERBROADCAST) {
    Announce(wparam);
    return TRUE;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// PowerRegisterSuspendResumeNotification and its counterpart, from System32's powrprof.dll
// (loaded once, never freed), or null before Windows 8 or where System32 cannot be named
// (Windows 7 without the update that brought LOAD_LIBRARY_SEARCH_SYSTEM32).
struct PowerFunctions {
  RegisterFn register_fn = nullptr;
  UnregisterFn unregister_fn = nullptr;
};

const PowerFunctions& Functions() {
  static const PowerFunctions functions = [] {
    PowerFunctions f;
    HMODULE powrprof = LoadLibraryExW(L"powrprof.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!powrprof) return f;
    const auto find = [powrprof](const char* name) {
      return reinterpret_cast<void (*)()>(GetProcAddress(powrprof, name));
    };
    f.register_fn = reinterpret_cast<RegisterFn>(find("PowerRegisterSuspendResumeNotification"));
    f.unregister_fn =
        reinterpret_cast<UnregisterFn>(find("PowerUnregisterSuspendResumeNotification"));
    if (!f.register_fn || !f.unregister_fn) f = PowerFunctions{};
    return f;
  }();
  return functions;
}

}  // namespace

PowerPauses& PowerWatch::Pauses() {
  static PowerPauses* pauses = new PowerPauses();
  return *pauses;
}

PowerWatch::PowerWatch(int64_t (*clock)()) {
  g_clock.store(clock);
  if (const PowerFunctions& f = Functions(); f.register_fn) {
    // The system keeps the parameters only for the call.
    SubscribeParameters parameters{&OnNotify, nullptr};
    if (f.register_fn(kDeviceNotifyCallback, &parameters, &notify_) == ERROR_SUCCESS) return;
    notify_ = nullptr;
  }
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WindowProc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when another watch registered it
  // Top-level and never shown: only top-level windows are sent WM_POWERBROADCAST.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, wc.hInstance, nullptr);
}

PowerWatch::~PowerWatch() {
  if (notify_) Functions().unregister_fn(notify_);
  if (window_) {
    DestroyWindow(window_);
    // The last window takes the class with it; while others exist this fails and it stays.
    UnregisterClassW(kClassName, ThisModule());
  }
}

}  // namespace wendrix::win32
