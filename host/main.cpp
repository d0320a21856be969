// wendrix-host: a form with one Wendrix control on it, Start and Stop buttons and a level
// read-out, as a form designer's program would have it; and, from the command line, an
// unattended recording that prints every event of the control and a live meter.
//
//   wendrix-host [--form FILE] [--file TAKE.wav]     (default: take.wav in the user's Documents)
//   wendrix-host --record TAKE.wav [--seconds N] [--rate 11025|22050|44100] [--channels 1|2]
//                [--bits 8|16] [--buffer BYTES] [--hide-meter] [--screenshot FILE.bmp]
//                [--form FILE] [--close-message-boxes [--box-check-ms MS]] [--atl] [--ocx PATH]
//                [--pump-in-level-events MS] [--block-ms MS [--block-at S|start]]
//                [--release-while-recording | --exit-while-recording] [--quiet]
//
// --quiet keeps the form's handlers empty, as for measuring what the control costs: the level
// events are counted and not printed, the read-out stays as it is and no meter is printed.
//
// The last four make the host misbehave as real form code does: a level-event handler that
// pumps messages for MS milliseconds (DoEvents, a modal form), a user interface thread that
// stops delivering messages for MS milliseconds, S seconds after the device first delivered
// (1.5 unless given; "start": right after Wendrix_Start returns), a form that lets the
// recording control go without stopping it, and a program that ends (ExitProcess) in the
// middle of the recording without stopping or releasing the control.
//
// Exit status: 0 done; 1 bad command line; 2 the control could not be created or driven;
// 3 Init_DSWendrix returned False; 4 Wendrix_Start returned False; 5 Wendrix_Stop returned
// False; 6 the screenshot could not be taken; 7 Wendrix_Stop raised an error (the take is
// finished all the same).
#include "host/automation.h"
// (first: the Windows headers)

#include <shlobj.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>

#include "host/form_file.h"
#include "host/form_site.h"
#include "host/screenshot.h"

namespace wendrix::host {
namespace {

// The control's class; its ProgID is the one a registered control answers to.
constexpr CLSID kControlClsid = {
    0xFEC0C325, 0x2038, 0x45EE, {0x80, 0x86, 0x8B, 0x08, 0x7D, 0xB5, 0x6C, 0xA3}};
constexpr const wchar_t* kProgId = L"Wendrix.DSWendrixControl";
constexpr const wchar_t* kFormClass = L"WendrixHostForm";
constexpr const wchar_t* kFormTitle = L"Wendrix host";
constexpr int kMargin = 8;
constexpr int kStartButton = 101, kStopButton = 102;

enum Status {
  kOk = 0,
  kUsage = 1,
  kFailed = 2,
  kInitFalse = 3,
  kStartFalse = 4,
  kStopFalse = 5,
  kScreenshotFailed = 6,
  kStopRaised = 7
};

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

struct Options {
  std::wstring record;
  double seconds = 5;
  long rate = 0, channels = 0, bits = 0, buffer = 0;
  bool hide_meter = false;
  std::wstring screenshot;
  std::wstring form;
  std::wstring take;  // the form's take; empty: DefaultTake()
  bool close_message_boxes = false;
  long box_check_ms = 100;  // how often the watchdog looks for a box
  bool atl = false;
  std::wstring ocx;
  long pump_in_level_events_ms = 0;
  long block_ms = 0;
  double block_at = 1.5;
  bool release_while_recording = false;
  bool exit_while_recording = false;
  bool quiet = false;
};

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr,
               "wendrix-host: %s\n"
               "usage: wendrix-host [--form FILE] [--file TAKE.wav]\n"
               "       wendrix-host --record TAKE.wav [--seconds N] [--rate 11025|22050|44100]\n"
               "                    [--channels 1|2] [--bits 8|16] [--buffer BYTES]\n"
               "                    [--hide-meter] [--screenshot FILE.bmp] [--form FILE]\n"
               "                    [--close-message-boxes [--box-check-ms MS]] [--atl]\n"
               "                    [--ocx PATH]\n"
               "                    [--pump-in-level-events MS]\n"
               "                    [--block-ms MS [--block-at S|start]]\n"
               "                    [--release-while-recording | --exit-while-recording]\n"
               "                    [--quiet]\n"
               "Without --file the form's Start records into take.wav in the user's Documents\n"
               "folder (the temporary folder when there is none) and prints the path.\n",
               why.c_str());
  std::exit(kUsage);
}

long Whole(const std::wstring& text, const char* option, std::initializer_list<long> allowed) {
  wchar_t* end = nullptr;
  long n = std::wcstol(text.c_str(), &end, 10);
  if (text.empty() || *end) Usage(std::string(option) + " needs a whole number");
  if (allowed.size() == 0) {
    if (n <= 0) Usage(std::string(option) + " needs a positive number");
    return n;
  }
  for (long a : allowed)
    if (a == n) return n;
  Usage(std::string(option) + ": " + Utf8(text) + " is not one of its values");
}

Options Parse(int argc, wchar_t** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto value = [&]() -> std::wstring {
      if (i + 1 >= argc) Usage(Utf8(a) + " needs a value");
      return argv[++i];
    };
    if (a == L"--record")
      o.record = value();
    else if (a == L"--seconds") {
      std::wstring v = value();
      wchar_t* end = nullptr;
      o.seconds = std::wcstod(v.c_str(), &end);
      if (v.empty() || *end || !(o.seconds > 0) || o.seconds > 3600)
        Usage("--seconds needs a number of seconds (up to 3600)");
    } else if (a == L"--rate")
      o.rate = Whole(value(), "--rate", {11025, 22050, 44100});
    else if (a == L"--channels")
      o.channels = Whole(value(), "--channels", {1, 2});
    else if (a == L"--bits")
      o.bits = Whole(value(), "--bits", {8, 16});
    else if (a == L"--buffer")
      o.buffer = Whole(value(), "--buffer", {});
    else if (a == L"--hide-meter")
      o.hide_meter = true;
    else if (a == L"--quiet")
      o.quiet = true;
    else if (a == L"--screenshot") {
      o.screenshot = value();
      const size_t dot = o.screenshot.find_last_of(L'.');
      if (dot == std::wstring::npos || _wcsicmp(o.screenshot.c_str() + dot, L".bmp") != 0)
        Usage("--screenshot writes a BMP file: its name ends in .bmp");
    } else if (a == L"--form")
      o.form = value();
    else if (a == L"--file")
      o.take = value();
    else if (a == L"--close-message-boxes")
      o.close_message_boxes = true;
    else if (a == L"--box-check-ms")
      o.box_check_ms = Whole(value(), "--box-check-ms", {});
    else if (a == L"--atl")
      o.atl = true;
    else if (a == L"--ocx")
      o.ocx = value();
    else if (a == L"--pump-in-level-events")
      o.pump_in_level_events_ms = Whole(value(), "--pump-in-level-events", {});
    else if (a == L"--block-ms")
      o.block_ms = Whole(value(), "--block-ms", {});
    else if (a == L"--block-at") {
      std::wstring v = value();
      wchar_t* end = nullptr;
      o.block_at = std::wcstod(v.c_str(), &end);
      if (v == L"start") {
        o.block_at = -1;
      } else if (v.empty() || *end || !(o.block_at >= 0)) {
        Usage("--block-at needs a number of seconds or \"start\"");
      }
    } else if (a == L"--release-while-recording")
      o.release_while_recording = true;
    else if (a == L"--exit-while-recording")
      o.exit_while_recording = true;
    else if (a == L"--help" || a == L"-h")
      Usage("help");
    else
      Usage("unknown option " + Utf8(a));
  }
  return o;
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

std::wstring ExeDirectory() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  return n && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
}

// Where the form's Start records when --file names no take: the user's Documents folder, else
// the temporary folder. Not the current folder: started from its own folder in Program Files,
// the host could not write there.
// shell32.dll is loaded here, by its full path in the system folder, not imported: imported, it
// would be loaded before the program's first instruction, and Wine's brings its own imports
// (shcore.dll) from the program's folder first.
std::wstring DefaultTake() {
  std::wstring folder;
  wchar_t system[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
  HMODULE shell = n && n <= MAX_PATH
                      ? LoadLibraryW((std::wstring(system, n) + L"\\shell32.dll").c_str())
                      : nullptr;
  using GetKnownFolder = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
  auto get = shell ? reinterpret_cast<GetKnownFolder>(
                         reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")))
                   : nullptr;
  PWSTR documents = nullptr;
  if (get && SUCCEEDED(get(FOLDERID_Documents, 0, nullptr, &documents))) folder = documents;
  CoTaskMemFree(documents);
  if (shell) FreeLibrary(shell);
  const DWORD attributes =
      folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    folder = n && n <= MAX_PATH ? std::wstring(temp, n) : L".";
  }
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder + L"take.wav";
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// --- the control's class --------------------------------------------------------------------

// Where the control comes from: the registered class, or the module beside this program (or the
// one --ocx names) without registration.
struct ControlClass {
  ComPtr<IClassFactory> factory;  // set when the module was loaded here
  std::string origin;
  DWORD registration = 0;  // CoRegisterClassObject's cookie, for hosts that create by CLSID
};

ControlClass FindControlClass(const std::wstring& ocx) {
  ControlClass c;
  CLSID clsid;
  if (ocx.empty() && SUCCEEDED(CLSIDFromProgID(kProgId, &clsid))) {
    c.origin = "registered class Wendrix.DSWendrixControl";
    return c;
  }
  std::wstring path = ocx.empty() ? ExeDirectory() + L"Wendrix.ocx" : FullPath(ocx);
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) throw HostError("loading " + Utf8(path), HRESULT_FROM_WIN32(GetLastError()));
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  if (!get) throw HostError(Utf8(path) + " has no DllGetClassObject", E_FAIL);
  Check(get(kControlClsid, IID_IClassFactory, reinterpret_cast<void**>(c.factory.GetAddressOf())),
        "DllGetClassObject");
  c.origin = Utf8(path) + " (not registered: loaded from its file)";
  return c;
}

ComPtr<IUnknown> CreateControl(const ControlClass& c) {
  ComPtr<IUnknown> control;
  if (c.factory)
    Check(c.factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)), "CreateInstance");
  else
    Check(CoCreateInstance(kControlClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)),
          "CoCreateInstance Wendrix.DSWendrixControl");
  return control;
}

// --- message boxes --------------------------------------------------------------------------

// Closes the control's message boxes in this process as a person would: finds the box by its
// caption, reads its text, presses OK.
class MessageBoxWatchdog {
 public:
  // Looks for a box every `check_ms` (each look is a request to the window server: a cost
  // bench looks seldom, so as not to charge the server's share of it to the control).
  explicit MessageBoxWatchdog(long check_ms) : check_ms_(check_ms), thread_([this] { Run(); }) {}
  ~MessageBoxWatchdog() {
    stop_ = true;
    thread_.join();
  }
  int closed() const { return closed_; }

 private:
  // A box of this process: a dialog of the box's class with the control's caption. Found by
  // class and caption (which the system matches for all windows at once), not by visiting every
  // window, so that the watch costs the process next to nothing while no box is up.
  HWND FindBox() {
    for (HWND box = FindWindowExW(nullptr, nullptr, L"#32770", L"Wendrix"); box;
         box = FindWindowExW(nullptr, box, L"#32770", L"Wendrix")) {
      DWORD process = 0;
      GetWindowThreadProcessId(box, &process);
      if (process == GetCurrentProcessId() && IsWindowVisible(box)) return box;
    }
    return nullptr;
  }
  void Run() {
    // Named, so that the cost bench can leave the host's own watchdog out of the control's cost
    // (Windows 10 and Wine have the call).
    using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    if (const auto describe = reinterpret_cast<Describe>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription"))) {
      describe(GetCurrentThread(), L"wendrix_box_watch");
    }
    HWND pressed = nullptr;  // a box is read once, also while it takes a moment to go
    while (!stop_) {
      if (const HWND box = FindBox(); box && box != pressed) {
        pressed = box;
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the box's static text
        Print("message box: %s\n", Utf8(text).c_str());
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        ++closed_;
      }
      Sleep(static_cast<DWORD>(check_ms_));
    }
  }
  const long check_ms_;
  std::atomic<bool> stop_{false};
  std::atomic<int> closed_{0};
  std::thread thread_;
};

// --- the form -------------------------------------------------------------------------------

struct Form;
Form* g_form = nullptr;

// What the form shows and holds: the control (through its site, or through ATL's), the
// buttons and the level read-out.
struct Form {
  Options options;
  HWND window = nullptr;
  HWND start = nullptr, stop = nullptr, levels = nullptr, ax = nullptr;
  ComPtr<FormSite> site;
  ComPtr<IUnknown> control;
  ComPtr<IOleObject> ole;
  ComPtr<IViewObject> view;
  std::unique_ptr<Automation> automation;
  Connection events, notifications;
  FormFile form_file;
  bool initialized = false;
  int events_seen = 0;

  void ShowLevels() {
    if (!automation || !levels) return;
    std::wstring text =
        L"Left: " + Wide(Level(L"dBLeft")) + L"    Right: " + Wide(Level(L"dBRight"));
    SetWindowTextW(levels, text.c_str());
  }

  std::string Level(const wchar_t* name) const {
    Value v;
    try {
      automation->Get(name, &v);
    } catch (const HostError& e) {
      return "?";
    }
    double d;
    if (!v.AsDouble(&d)) return v.Text();
    char text[32];
    std::snprintf(text, sizeof text, "%.2f dB", d);
    return text;
  }

  void OnEvent(DISPID id) {
    ++events_seen;
    if (options.quiet && (id == 1 || id == 2)) return;
    static const char* const kNames[] = {"?", "dBOnChangeLeft", "dBOnChangeRight", "OnStop",
                                         "OnStart"};
    const char* name = id >= 1 && id <= 4 ? kNames[id] : "?";
    if (id == 1)
      Print("event %s  dBLeft = %s\n", name, Level(L"dBLeft").c_str());
    else if (id == 2)
      Print("event %s  dBRight = %s\n", name, Level(L"dBRight").c_str());
    else
      Print("event %s\n", name);
    if (id == 1 || id == 2) ShowLevels();
    if ((id == 1 || id == 2) && options.pump_in_level_events_ms > 0) {
      // What a handler with DoEvents, or a modal form, does: the host's messages, the
      // control's ticks among them, are delivered inside the event.
      const double until = Now() + options.pump_in_level_events_ms / 1000.0;
      while (Now() < until) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
    }
  }

  void OnPropertyChanged(DISPID id) {
    Print("property changed: %s\n", automation ? automation->NameOf(id).c_str() : "?");
  }
};

// The LEDs a level lights, as a row of text (the control's rule: 5 dB a LED).
std::string Bar(const std::string& level_text) {
  double level = std::atof(level_text.c_str());
  int lit = 0;
  if (level_text.find("dB") != std::string::npos && level >= -60) {
    lit = level > -0.5 ? 13 : std::abs(static_cast<int>(std::floor(std::fabs(level) / 5)) - 11) + 1;
    if (lit > 13) lit = 13;
  }
  std::string bar = "[";
  bar.append(lit, '#');
  bar.append(13 - lit, '.');
  return bar + "]";
}

void PrintMeter(Form& f) {
  std::string left = f.Level(L"dBLeft"), right = f.Level(L"dBRight");
  Print("meter  L %-10s %s   R %-10s %s\n", left.c_str(), Bar(left).c_str(), right.c_str(),
        Bar(right).c_str());
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  Form* f = g_form;
  switch (message) {
    case WM_COMMAND:
      if (f && f->automation && HIWORD(w) == BN_CLICKED) {
        try {
          if (LOWORD(w) == kStartButton) {
            f->automation->PutBool(L"Enabled", true);
            if (!f->initialized) {
              f->initialized = f->automation->CallBool(L"Init_DSWendrix");
              Print("Init_DSWendrix = %s\n", f->initialized ? "True" : "False");
            }
            if (f->initialized) {
              bool ok =
                  f->automation->CallBoolWithString(L"Wendrix_Start", FullPath(f->options.take));
              Print("Wendrix_Start(\"%s\") = %s\n", Utf8(f->options.take).c_str(),
                    ok ? "True" : "False");
            }
          } else if (LOWORD(w) == kStopButton) {
            bool ok = f->automation->CallBool(L"Wendrix_Stop");
            Print("Wendrix_Stop = %s\n", ok ? "True" : "False");
          }
        } catch (const HostError& e) {
          Print("error: %s\n", e.what());
        }
        return 0;
      }
      break;
    case WM_PAINT:
      // A control that is not active in place in a window of its own is drawn by the form.
      if (f && f->view && !(f->site && f->site->in_place_active()) && !f->ax) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECTL bounds = {f->site->rect().left, f->site->rect().top, f->site->rect().right,
                        f->site->rect().bottom};
        f->view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                      nullptr, 0);
        EndPaint(window, &ps);
        return 0;
      }
      break;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

HWND CreateFormWindow() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = FormProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  RegisterClassExW(&wc);
  RECT r = {0, 0, 320, 130};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  AdjustWindowRect(&r, style, FALSE);
  HWND window =
      CreateWindowExW(0, kFormClass, kFormTitle, style, 40, 40, r.right - r.left, r.bottom - r.top,
                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) throw HostError("CreateWindow (the form)", HRESULT_FROM_WIN32(GetLastError()));
  return window;
}

// Places the buttons and the read-out under the control.
void LayOutForm(Form& f, const RECT& control) {
  const int y = control.bottom + 12;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  auto make = [&](const wchar_t* kind, const wchar_t* text, DWORD style, int x, int top, int w,
                  int h, int id) {
    HWND child =
        CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, x, top, w, h, f.window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
  };
  f.start = make(L"BUTTON", L"Start", BS_PUSHBUTTON, kMargin, y, 80, 26, kStartButton);
  f.stop = make(L"BUTTON", L"Stop", BS_PUSHBUTTON, kMargin + 90, y, 80, 26, kStopButton);
  f.levels = make(L"STATIC", L"Left: -    Right: -", SS_LEFT, kMargin, y + 36, 300, 20, 0);
}

RECT ControlRect(IOleObject* ole, HWND window) {
  SIZEL himetric{};
  Check(ole->GetExtent(DVASPECT_CONTENT, &himetric), "IOleObject::GetExtent");
  HDC dc = GetDC(window);
  const int dpi_x = GetDeviceCaps(dc, LOGPIXELSX), dpi_y = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return RECT{kMargin, kMargin, kMargin + MulDiv(himetric.cx, dpi_x, 2540),
              kMargin + MulDiv(himetric.cy, dpi_y, 2540)};
}

// Sites the control on the form as a form container does: client site first (the control asks
// for it), then its saved properties (or a new control's defaults), then in-place activation.
void SiteControl(Form& f, const ControlClass& c) {
  f.control = CreateControl(c);
  Check(f.control.As(&f.ole), "IOleObject");
  DWORD misc = 0;
  f.ole->GetMiscStatus(DVASPECT_CONTENT, &misc);
  f.site.Attach(new FormSite(f.window, RECT{kMargin, kMargin, kMargin, kMargin}));
  if (misc & OLEMISC_SETCLIENTSITEFIRST) Check(f.ole->SetClientSite(f.site.Get()), "SetClientSite");

  ComPtr<IPersistPropertyBag> persist;
  Check(f.control.As(&persist), "IPersistPropertyBag");
  if (!f.options.form.empty() && FileExists(f.options.form)) {
    f.form_file = FormFile::Read(f.options.form);
    ComPtr<IPropertyBag> bag = MakeFormBag(&f.form_file);
    Check(persist->Load(bag.Get(), nullptr), "IPersistPropertyBag::Load");
    Print("form: %s loaded (%u properties)\n", Utf8(f.options.form).c_str(),
          static_cast<unsigned>(f.form_file.entries.size()));
  } else {
    Check(persist->InitNew(), "IPersistPropertyBag::InitNew");
  }
  if (!(misc & OLEMISC_SETCLIENTSITEFIRST))
    Check(f.ole->SetClientSite(f.site.Get()), "SetClientSite");
  f.ole->SetHostNames(L"Wendrix host", L"Wendrix1");

  ComPtr<IDispatch> dispatch;
  Check(f.control.As(&dispatch), "IDispatch");
  f.automation = std::make_unique<Automation>(dispatch);
  f.site->on_property_changed = [&f](DISPID id) { f.OnPropertyChanged(id); };
  f.site->on_rect_changed = [](const RECT& r) {
    Print("control asks for %ld x %ld pixels\n", r.right - r.left, r.bottom - r.top);
  };

  RECT rect = ControlRect(f.ole.Get(), f.window);
  f.site->OnPosRectChange(&rect);
  f.control.As(&f.view);
  HRESULT hr = f.ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, f.site.Get(), 0, f.window, &rect);
  if (FAILED(hr)) {
    Print("note: the control does not activate in place (0x%08lX); the form draws it\n",
          static_cast<unsigned long>(hr));
  } else {
    ComPtr<IOleInPlaceObject> in_place;
    if (SUCCEEDED(f.control.As(&in_place))) f.site->SetInPlaceObject(in_place);
    f.ole->DoVerb(OLEIVERB_SHOW, nullptr, f.site.Get(), 0, f.window, &rect);
  }
}

// Sites the control in Wine's (or Windows') own ATL container window instead.
void SiteControlInAtl(Form& f, const ControlClass& c) {
  // By its full path: atl.dll is no KnownDLL, and a copy beside the program must not be taken.
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) throw HostError("GetSystemDirectory", E_FAIL);
  HMODULE atl = LoadLibraryW((std::wstring(system) + L"\\atl.dll").c_str());
  if (!atl) throw HostError("loading atl.dll", HRESULT_FROM_WIN32(GetLastError()));
  using Init = BOOL(WINAPI*)();
  using GetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
  auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
  auto get =
      reinterpret_cast<GetControl>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
  if (!init || !get || !init()) throw HostError("AtlAxWinInit", E_FAIL);

  std::wstring name = kProgId;
  if (c.factory) {
    // Not registered: ATL creates the class by its CLSID, which this process now serves.
    DWORD cookie = 0;
    Check(CoRegisterClassObject(kControlClsid, c.factory.Get(), CLSCTX_INPROC_SERVER,
                                REGCLS_MULTIPLEUSE, &cookie),
          "CoRegisterClassObject");
    wchar_t text[64];
    StringFromGUID2(kControlClsid, text, 64);
    name = text;
  }
  // 1830 x 510 twips at the form's DPI, which the control takes anyway.
  HDC dc = GetDC(f.window);
  const int w = MulDiv(1830, GetDeviceCaps(dc, LOGPIXELSX), 1440);
  const int h = MulDiv(510, GetDeviceCaps(dc, LOGPIXELSY), 1440);
  ReleaseDC(f.window, dc);
  f.ax = CreateWindowExW(0, L"AtlAxWin", name.c_str(), WS_CHILD | WS_VISIBLE, kMargin, kMargin, w,
                         h, f.window, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!f.ax)
    throw HostError("CreateWindow AtlAxWin " + Utf8(name), HRESULT_FROM_WIN32(GetLastError()));
  Check(get(f.ax, &f.control), "AtlAxGetControl");
  if (!f.control) throw HostError("AtlAxGetControl: no control", E_FAIL);
  Print("ATL container: AtlAxWin \"%s\"\n", Utf8(name).c_str());
  ComPtr<IDispatch> dispatch;
  Check(f.control.As(&dispatch), "IDispatch");
  f.automation = std::make_unique<Automation>(dispatch);
  // The form still hears the control's property changes.
  f.site.Attach(new FormSite(f.window, RECT{kMargin, kMargin, kMargin + w, kMargin + h}));
  f.site->on_property_changed = [&f](DISPID id) { f.OnPropertyChanged(id); };
}

void ConnectSinks(Form& f) {
  IID events = GUID_NULL;
  ComPtr<IProvideClassInfo2> info;
  if (SUCCEEDED(f.control.As(&info))) info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events);
  if (events == GUID_NULL) throw HostError("the control names no event interface", E_NOINTERFACE);
  ComPtr<EventSink> sink;
  sink.Attach(new EventSink(events, [&f](DISPID id) { f.OnEvent(id); }));
  f.events.Connect(f.control.Get(), events, sink.Get(), "events");
  f.notifications.Connect(f.control.Get(), IID_IPropertyNotifySink,
                          static_cast<IPropertyNotifySink*>(f.site.Get()), "property changes");
}

void SaveForm(Form& f) {
  if (f.options.form.empty() || f.ax || !f.control) return;
  ComPtr<IPersistPropertyBag> persist;
  Check(f.control.As(&persist), "IPersistPropertyBag");
  ComPtr<IPropertyBag> bag = MakeFormBag(&f.form_file);
  Check(persist->Save(bag.Get(), TRUE, TRUE), "IPersistPropertyBag::Save");
  f.form_file.Write(f.options.form);
  Print("form: %s saved\n", Utf8(f.options.form).c_str());
}

// Takes the control off the form: the reverse of SiteControl.
void UnsiteControl(Form& f) {
  f.events.Disconnect();
  f.notifications.Disconnect();
  f.automation.reset();
  f.view.Reset();
  if (f.ole) {
    ComPtr<IOleInPlaceObject> in_place;
    if (f.site && f.site->in_place_active() && SUCCEEDED(f.ole.As(&in_place)))
      in_place->InPlaceDeactivate();
    f.ole->Close(OLECLOSE_NOSAVE);
    f.ole->SetClientSite(nullptr);
    f.ole.Reset();
  }
  f.control.Reset();
  if (f.ax) {
    DestroyWindow(f.ax);
    f.ax = nullptr;
  }
}

// Delivers the form's messages (the control's timer among them) until `until`.
void PumpUntil(double until, Form& f, bool meter) {
  // A quiet host wakes for nothing of its own, as a form that only records.
  meter = meter && !f.options.quiet;
  double next_meter = Now() + 0.25;
  for (;;) {
    double now = Now();
    if (now >= until) return;
    double wake = meter ? std::min(until, next_meter) : until;
    DWORD ms = static_cast<DWORD>(std::max(0.0, (wake - now) * 1000.0));
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (meter && Now() >= next_meter) {
      PrintMeter(f);
      next_meter += 0.25;
    }
  }
}

// Pumps messages until the device's position first moves after the start, and returns when it
// did. Some sound systems (PulseAudio under Wine among them) deliver the first bytes of a new
// stream only after a while: the take holds what the device recorded from then on.
double WaitForCapture(Form& f, double until) {
  Value start;
  f.automation->Get(L"BufferPosition", &start);
  double first = 0;
  start.AsDouble(&first);
  for (;;) {
    const double now = Now();
    if (now >= until) return now;
    Value position;
    f.automation->Get(L"BufferPosition", &position);
    double at = first;
    position.AsDouble(&at);
    if (at != first) return now;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return Now();
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

int Record(Form& f) {
  const Options& o = f.options;
  Automation& a = *f.automation;
  if (o.rate) a.PutLong(L"SamplesPerSecond", o.rate);
  if (o.channels) a.PutLong(L"NumChannels", o.channels);
  if (o.bits) a.PutLong(L"BitsPerSample", o.bits);
  if (o.buffer) {
    a.PutBool(L"AutoCalculateBuff", false);
    a.PutLong(L"BufferLength", o.buffer);
  }
  if (o.hide_meter) a.PutBool(L"ShowVU", false);
  a.PutBool(L"Enabled", true);

  if (!a.CallBool(L"Init_DSWendrix")) {
    Print("error: Init_DSWendrix returned False (no recording device?)\n");
    return kInitFalse;
  }
  Value rate, channels, bits, length;
  a.Get(L"SamplesPerSecond", &rate);
  a.Get(L"NumChannels", &channels);
  a.Get(L"BitsPerSample", &bits);
  a.Get(L"BufferLength", &length);
  double r = 0, c = 0, b = 0, n = 0;
  rate.AsDouble(&r), channels.AsDouble(&c), bits.AsDouble(&b), length.AsDouble(&n);
  const double drain_period = r && c && b ? n / (r * c * b / 8) / 2 : 0;
  Print("format %.0f Hz, %.0f channels, %.0f bits; buffer %.0f bytes; drain period %.3f s\n", r, c,
        b, n, drain_period);

  const std::wstring take = FullPath(o.record);
  if (!a.CallBoolWithString(L"Wendrix_Start", take)) {
    Print("error: Wendrix_Start(\"%s\") returned False\n", Utf8(take).c_str());
    return kStartFalse;
  }
  const double started = Now();
  Print("recording \"%s\" for %.1f s\n", Utf8(take).c_str(), o.seconds);
  if (o.block_ms > 0 && o.block_at < 0) {
    // A form that runs a synchronous job right after the start: when the device began is
    // unknown, so the capture delay is given as 0.
    Print("blocking the message loop for %ld ms\n", o.block_ms);
    Sleep(static_cast<DWORD>(o.block_ms));
  }
  const double capture_began =
      o.block_at < 0 ? started : WaitForCapture(f, started + o.seconds);
  // Told at once: a test that ends the host hard counts the take from here.
  if (o.block_at >= 0) Print("capture_delay_seconds %.3f\n", capture_began - started);
  if (o.block_ms > 0 && o.block_at >= 0) {
    // Counted from the device's first bytes, so that the stall always falls into audio.
    PumpUntil(capture_began + o.block_at, f, true);
    Print("blocking the message loop for %ld ms\n", o.block_ms);
    Sleep(static_cast<DWORD>(o.block_ms));
  }
  PumpUntil(started + o.seconds, f, true);

  int status = kOk;
  if (!o.screenshot.empty()) {
    RedrawWindow(f.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    try {
      SaveClientAreaBmp(f.window, FullPath(o.screenshot));
      Print("screenshot %s (control at %ld,%ld size %ld x %ld)\n",
            Utf8(FullPath(o.screenshot)).c_str(), f.site->rect().left, f.site->rect().top,
            f.site->rect().right - f.site->rect().left, f.site->rect().bottom - f.site->rect().top);
    } catch (const HostError& e) {
      Print("error: %s\n", e.what());
      status = kScreenshotFailed;
    }
  }
  Print("levels dBLeft %s dBRight %s\n", f.Level(L"dBLeft").c_str(), f.Level(L"dBRight").c_str());
  const double stopped = Now();
  if (o.release_while_recording) {
    // The control goes with its last reference, in the middle of the recording.
    UnsiteControl(f);
    Print("released the control while it recorded\n");
    Print("recorded_seconds %.3f\ndrain_period_seconds %.3f\ncapture_delay_seconds %.3f\n",
          stopped - started, drain_period, capture_began - started);
    return status;
  }
  if (o.exit_while_recording) {
    // The process ends with the control recording and held: no stop, no release.
    Print("exiting while the control records\n");
    Print("recorded_seconds %.3f\ndrain_period_seconds %.3f\ncapture_delay_seconds %.3f\n",
          stopped - started, drain_period, capture_began - started);
    ExitProcess(0);
  }
  bool stop_ok = false;
  bool stop_raised = false;
  try {
    stop_ok = a.CallBool(L"Wendrix_Stop");
  } catch (const HostError& e) {
    Print("error: %s\n", e.what());
    stop_raised = true;
  }
  Print("recorded_seconds %.3f\ndrain_period_seconds %.3f\ncapture_delay_seconds %.3f\n",
        stopped - started, drain_period, capture_began - started);
  if (o.quiet) Print("events %d\n", f.events_seen);
  if (stop_raised) return kStopRaised;
  if (!stop_ok) {
    Print("error: Wendrix_Stop returned False\n");
    return kStopFalse;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(take.c_str(), GetFileExInfoStandard, &data))
    Print("wav %s (%lu bytes)\n", Utf8(take).c_str(), data.nFileSizeLow);
  return status;
}

int Run(int argc, wchar_t** argv) {
  Form f;
  f.options = Parse(argc, argv);
  g_form = &f;
  std::unique_ptr<MessageBoxWatchdog> watchdog;
  if (f.options.close_message_boxes)
    watchdog = std::make_unique<MessageBoxWatchdog>(f.options.box_check_ms);

  ControlClass c = FindControlClass(f.options.ocx);
  Print("control: %s\n", c.origin.c_str());
  f.window = CreateFormWindow();
  if (f.options.atl)
    SiteControlInAtl(f, c);
  else
    SiteControl(f, c);
  ConnectSinks(f);
  LayOutForm(f, f.site->rect());
  ShowWindow(f.window, SW_SHOWNORMAL);
  UpdateWindow(f.window);

  int status = kOk;
  if (!f.options.record.empty()) {
    PumpUntil(Now() + 0.2, f, false);  // the form on screen before the recording starts
    status = Record(f);
    SaveForm(f);
  } else {
    if (f.options.take.empty()) f.options.take = DefaultTake();
    Print("Start records into \"%s\"\n", Utf8(FullPath(f.options.take)).c_str());
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    SaveForm(f);
  }
  UnsiteControl(f);
  if (IsWindow(f.window)) DestroyWindow(f.window);
  g_form = nullptr;
  if (watchdog && watchdog->closed()) Print("message boxes closed: %d\n", watchdog->closed());
  return status;
}

// Libraries loaded by name (by this program or by the system's own DLLs) come from the system
// folder only, never from the program's folder or the current one, where whoever can write
// could plant one. A constructor of the first rank, so that it comes before every other one:
// nothing loads a library before it (the stack protector's canary is the module's own, drawn
// without loading one). SetDefaultDllDirectories is looked up: Windows 7 has it only with its
// loader update; without it, the current folder at least leaves the search.
__attribute__((constructor(101))) void SearchSystemFolderOnly() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (!set || !set(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace
}  // namespace wendrix::host

int wmain(int argc, wchar_t** argv) {
  if (FAILED(OleInitialize(nullptr))) {
    std::fprintf(stderr, "wendrix-host: OleInitialize failed\n");
    return wendrix::host::kFailed;
  }
  int status;
  try {
    status = wendrix::host::Run(argc, argv);
  } catch (const wendrix::host::HostError& e) {
    std::printf("error: %s\n", e.what());
    std::fflush(stdout);
    status = wendrix::host::kFailed;
  }
  OleUninitialize();
  return status;
}
