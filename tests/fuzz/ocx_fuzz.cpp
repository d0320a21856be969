// The built Wendrix.ocx against bad input, as a careless or hostile host would give it, with
// the real recording device: seeded random property bags, mutated saved streams, random
// IDispatch::Invoke calls (every DISPID of the type library and some that are not, every
// combination of DISPATCH_* flags, 0 to 3 arguments of every VARIANT type, by value and by
// reference, named arguments) and short recordings with changes and reloads in between.
//
// The run fails (exit code not 0) on a crash, a hang, a call that succeeds although it must be
// refused, or a control that stops answering. The control's message boxes are closed by a
// watchdog thread, as a person would press OK.
//
// Every iteration uses a new control and a generator of its own, seeded by the seed and the
// iteration's number, so any iteration can be replayed alone:
//   ocx_fuzz [--seed=S] [--iterations=N] [--first=I] [--seconds=T]
// (WENDRIX_FUZZ_SEED, WENDRIX_FUZZ_ITERATIONS and WENDRIX_FUZZ_SECONDS set them too). A run
// stops early, passing, when it has used its seconds; it says how many iterations it ran.
// WENDRIX_FUZZ_VERBOSE=1 prints the text of every box it closes.
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Wendrix_h.h"
#include "tests/win/memory_bag.h"

namespace {

using Microsoft::WRL::ComPtr;
using Clock = std::chrono::steady_clock;

constexpr DISPID kInit = 0x6003001A, kStart = 0x6003001C, kStop = 0x60030014, kEnabled = 0x6803000D,
                 kSamples = 0x6803000C, kChannels = 0x6803000B, kBits = 0x6803000A,
                 kLength = 0x68030009, kAuto = 0x68030008, kPosition = 0x68030007,
                 kShowVU = 0x68030003, kDbLeft = 0x68030001, kDbRight = 0x68030000;

// --- what the run is doing, for the reports of the watchdog and the crash handler ----------
uint64_t seed = 1;
std::atomic<uint64_t> iteration{0};
std::atomic<uint64_t> heartbeat{0};
std::atomic<const char*> doing{"starting"};
std::atomic<int> boxes_closed{0};

void Report(const char* what) {
  std::fprintf(stderr,
               "ocx_fuzz: %s at iteration %llu (seed %llu) while %s\n"
               "  replay: ocx_fuzz --seed=%llu --first=%llu --iterations=1\n",
               what, static_cast<unsigned long long>(iteration.load()),
               static_cast<unsigned long long>(seed), doing.load(),
               static_cast<unsigned long long>(seed),
               static_cast<unsigned long long>(iteration.load()));
  std::fflush(stderr);
}

[[noreturn]] void Fail(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Report(text);
  TerminateProcess(GetCurrentProcess(), 1);
  std::abort();
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  char text[64];
  std::snprintf(text, sizeof text, "CRASH (exception 0x%08lX)",
                info ? info->ExceptionRecord->ExceptionCode : 0ul);
  Report(text);
  TerminateProcess(GetCurrentProcess(), 2);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Presses OK on the control's boxes, and ends the run when the main thread stops moving.
void Watchdog(std::atomic<bool>& done, int hang_seconds) {
  uint64_t last = heartbeat;
  auto since = Clock::now();
  const bool verbose = std::getenv("WENDRIX_FUZZ_VERBOSE") != nullptr;
  HWND last_box = nullptr;
  while (!done) {
    if (HWND box = FindWindowW(L"#32770", L"Wendrix")) {
      if (box != last_box) {
        ++boxes_closed;
        if (verbose) {
          wchar_t text[512] = {};
          for (HWND label = FindWindowExW(box, nullptr, L"Static", nullptr); label;
               label = FindWindowExW(box, label, L"Static", nullptr))
            if (GetDlgCtrlID(label) == 0xFFFF) GetWindowTextW(label, text, 512);
          std::fprintf(stderr, "ocx_fuzz: iteration %llu: box \"%ls\"\n",
                       static_cast<unsigned long long>(iteration.load()), text);
        }
      }
      last_box = box;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    if (heartbeat != last) {
      last = heartbeat;
      since = Clock::now();
    } else if (Clock::now() - since > std::chrono::seconds(hang_seconds)) {
      Report("HANG (no progress)");
      TerminateProcess(GetCurrentProcess(), 3);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
}

void Beat(const char* what) {
  doing = what;
  ++heartbeat;
}

void Pump(int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    ++heartbeat;
    Sleep(5);
  } while (Clock::now() < end);
}

// --- the control ----------------------------------------------------------------------------
std::wstring OcxPath() {
  std::string unix_path = WENDRIX_OCX_PATH;
  std::wstring path(unix_path.begin(), unix_path.end());
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;  // Wine's view of the Linux root
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

ComPtr<IClassFactory> Factory() {
  HMODULE module = LoadLibraryW(OcxPath().c_str());
  if (!module) Fail("cannot load %ls (error %lu)", OcxPath().c_str(), GetLastError());
  auto get = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  ComPtr<IClassFactory> factory;
  if (!get || FAILED(get(CLSID_DSWendrixControl, IID_PPV_ARGS(&factory)))) Fail("no class factory");
  return factory;
}

// The DISPIDs the type library gives the dual interface.
std::vector<DISPID> MemberIds(IDispatch* control) {
  std::vector<DISPID> ids;
  ComPtr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  if (FAILED(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) ||
      FAILED(info->GetTypeAttr(&attr)))
    Fail("no type information");
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    if (SUCCEEDED(info->GetFuncDesc(i, &f))) {
      ids.push_back(f->memid);
      info->ReleaseFuncDesc(f);
    }
  }
  info->ReleaseTypeAttr(attr);
  return ids;
}

// --- random values ----------------------------------------------------------------------------
class Random {
 public:
  explicit Random(uint64_t s) : rng_(s) {}
  uint64_t Next() { return rng_(); }
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(rng_() % n) : 0; }
  bool Chance(int percent) { return Below(100) < static_cast<uint32_t>(percent); }
  double Number() {
    static const double kValues[] = {0,     1,       -1,     2,     8,   16,   11025,
                                     22050, 44100,   -44100, 1e8,   0.5, 2.5,  -200,
                                     1e300, -1e-300, 176400, 65536, 3e9, -3e9, 0x0FFFFFFF};
    switch (Below(4)) {
      case 0:
        return kValues[Below(std::size(kValues))];
      case 1:
        return static_cast<int32_t>(Next());
      case 2:
        return static_cast<int16_t>(Next());
      default: {
        double d;
        uint64_t bits = Next();
        std::memcpy(&d, &bits, sizeof d);
        return d;  // NaN and infinities too
      }
    }
  }
  // Short texts: numbers, words, file names; sometimes with a lone surrogate or a NUL.
  std::wstring Text() {
    static const wchar_t* const kTexts[] = {L"",
                                            L"44100",
                                            L"&HFFFF",
                                            L"True",
                                            L"#FALSE#",
                                            L"1e400",
                                            L"  12,5 ",
                                            L"(3)",
                                            L"x.wav",
                                            L"take",
                                            L"nonexistent-wendrix-dir\\t.wav",
                                            L"-200",
                                            L"No Sound"};
    std::wstring s = kTexts[Below(std::size(kTexts))];
    const int extra = static_cast<int>(Below(6));
    static const wchar_t kAlphabet[] = L"abc019 ._-e&H";
    for (int i = 0; i < extra; ++i) s += kAlphabet[Below(std::size(kAlphabet) - 1)];
    if (Chance(10)) s.insert(Below(static_cast<uint32_t>(s.size()) + 1), 1, L'\xD800');
    if (Chance(5)) s.insert(Below(static_cast<uint32_t>(s.size()) + 1), 1, L'\0');
    if (Chance(30)) s += L".wav";
    return s;
  }

 private:
  std::mt19937_64 rng_;
};

// Owns what the VARIANTs of one call point to: strings, arrays, by-reference targets. The
// VARIANTs themselves are never cleared: everything in them belongs to the arena.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    for (BSTR b : bstrs_) SysFreeString(b);
    for (SAFEARRAY* a : arrays_) SafeArrayDestroy(a);
  }
  BSTR Bstr(const std::wstring& s) {
    bstrs_.push_back(SysAllocStringLen(s.data(), static_cast<UINT>(s.size())));
    return bstrs_.back();
  }
  void* Bytes(size_t n) {
    blocks_.emplace_back(new uint8_t[n]());
    return blocks_.back().get();
  }
  VARIANT* Variant() {
    variants_.emplace_back();  // a deque: earlier elements never move
    VariantInit(&variants_.back());
    return &variants_.back();
  }
  SAFEARRAY* Array() {
    arrays_.push_back(SafeArrayCreateVector(VT_I4, 0, 3));
    return arrays_.back();
  }

 private:
  std::vector<BSTR> bstrs_;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  std::deque<VARIANT> variants_;
  std::vector<SAFEARRAY*> arrays_;
};

// A VARIANT of any type a host may pass (its contents owned by `arena`, never cleared by the
// caller): the scalar types, strings, Null and Empty, null objects, an array, and each of them
// by reference.
VARIANT RandomVariant(Random& r, Arena& arena, int depth = 0) {
  static const VARTYPE kTypes[] = {VT_EMPTY,    VT_NULL,    VT_I2,      VT_I4,           VT_R4,
                                   VT_R8,       VT_CY,      VT_DATE,    VT_BSTR,         VT_ERROR,
                                   VT_BOOL,     VT_DECIMAL, VT_I1,      VT_UI1,          VT_UI2,
                                   VT_UI4,      VT_I8,      VT_UI8,     VT_INT,          VT_UINT,
                                   VT_DISPATCH, VT_UNKNOWN, VT_VARIANT, VT_ARRAY | VT_I4};
  VARTYPE vt = kTypes[r.Below(std::size(kTypes))];
  if (vt == VT_VARIANT && depth > 0) vt = VT_I4;
  const bool byref = vt == VT_VARIANT || r.Chance(25);
  if (vt == VT_VARIANT) {
    VARIANT* inner = arena.Variant();
    *inner = RandomVariant(r, arena, depth + 1);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&v) = inner;
    return v;
  }
  VARIANT v;
  VariantInit(&v);
  const double n = r.Number();
  auto clamp = [](double x, double lo, double hi) {
    return x != x ? 0 : x < lo ? lo : x > hi ? hi : x;
  };
  // clang-format off
  switch (vt) {
    case VT_I2: V_I2(&v) = static_cast<SHORT>(clamp(n, -32768, 32767)); break;
    case VT_I4: V_I4(&v) = static_cast<LONG>(clamp(n, -2147483648.0, 2147483647.0)); break;
    case VT_R4: V_R4(&v) = static_cast<float>(clamp(n, -3e38, 3e38)); break;
    case VT_R8: V_R8(&v) = n; break;
    case VT_DATE: V_DATE(&v) = clamp(n, -657434, 2958465); break;
    case VT_BSTR: V_BSTR(&v) = arena.Bstr(r.Text()); break;
    case VT_BOOL: V_BOOL(&v) = static_cast<VARIANT_BOOL>(r.Chance(50) ? r.Next() : -1); break;
    case VT_ARRAY | VT_I4: V_ARRAY(&v) = arena.Array(); break;
    case VT_EMPTY: case VT_NULL: case VT_DISPATCH: case VT_UNKNOWN: break;  // null objects
    case VT_DECIMAL: {
      DECIMAL& d = V_DECIMAL(&v);
      d.scale = static_cast<BYTE>(r.Below(30));
      d.sign = r.Chance(50) ? DECIMAL_NEG : 0;
      d.Hi32 = r.Chance(80) ? 0 : static_cast<ULONG>(r.Next());
      d.Lo64 = r.Chance(50) ? static_cast<ULONGLONG>(clamp(std::abs(n), 0, 1e18)) : r.Next();
      break;
    }
    default: V_I8(&v) = static_cast<LONGLONG>(r.Next()); break;  // integers, Currency, Error
  }
  // clang-format on
  if (vt == VT_DECIMAL) {
    V_VT(&v) = VT_DECIMAL;  // written after the value, which overlays the type word
  } else {
    V_VT(&v) = vt;
  }
  if (!byref || vt == VT_EMPTY || vt == VT_NULL) return v;
  // By reference: the value moves into memory of the arena and the VARIANT points to it.
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = static_cast<VARTYPE>(vt | VT_BYREF);
  if (vt == VT_DECIMAL) {
    auto* d = static_cast<DECIMAL*>(arena.Bytes(sizeof(DECIMAL)));
    *d = V_DECIMAL(&v);
    d->wReserved = 0;
    V_DECIMALREF(&ref) = d;
  } else if (vt & VT_ARRAY) {
    auto* a = static_cast<SAFEARRAY**>(arena.Bytes(sizeof(SAFEARRAY*)));
    *a = V_ARRAY(&v);
    V_ARRAYREF(&ref) = a;
  } else {
    // Every other value sits at the start of the union, at most 8 bytes (pointers included).
    void* slot = arena.Bytes(8);
    std::memcpy(slot, &V_I8(&v), 8);
    V_BYREF(&ref) = slot;
  }
  return ref;
}

// --- a host's property bag -----------------------------------------------------------------
using Bag = wendrix::test::MemoryBag;

const wchar_t* const kKeys[] = {L"Enabled",        L"BufferLength",  L"SamplesPerSecond",
                                L"NumChannels",    L"BitsPerSample", L"AutoCalculateBuff",
                                L"BufferPosition", L"BackColor",     L"BackStyle",
                                L"BorderStyle",    L"ShowVU",        L"ShowVUScale",
                                L"dBLeft",         L"dBRight",       L"Junk"};

struct Counts {
  uint64_t invokes = 0, bags = 0, streams = 0, recordings = 0, inits = 0, started = 0;
};

class Session {
 public:
  Session(IClassFactory* factory, const std::vector<DISPID>& ids, Random& r, Counts& counts)
      : ids_(ids), r_(r), counts_(counts) {
    if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&control_))))
      Fail("the class factory made no control");
  }

  void Run() {
    // Often a control that is ready to record, so that random calls meet the recorder too.
    if (r_.Chance(40)) {
      Beat("preparing a ready control");
      VARIANT yes, ok;
      VariantInit(&yes);
      VariantInit(&ok);
      V_VT(&yes) = VT_BOOL, V_BOOL(&yes) = VARIANT_TRUE;
      Call(kEnabled, DISPATCH_PROPERTYPUT, &yes, nullptr);
      if (Call(kInit, DISPATCH_METHOD, nullptr, &ok) == S_OK) CheckInitialised();
    }
    const int ops = 1 + static_cast<int>(r_.Below(12));
    for (int i = 0; i < ops; ++i) {
      const uint32_t pick = r_.Below(100);
      if (pick < 15) {
        LoadBag();
      } else if (pick < 27) {
        LoadStream();
      } else if (pick < 33) {
        Record();
      } else if (pick < 36) {
        Beat("InitNew");
        ComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(control_.As(&persist))) persist->InitNew();
      } else {
        RandomInvoke();
      }
      if (r_.Chance(20)) Pump(static_cast<int>(r_.Below(30)));
    }
    StillAnswers();
    Beat("releasing the control");
    control_.Reset();
  }

 private:
  HRESULT Call(DISPID id, WORD flags, VARIANT* arg, VARIANT* result) {
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{arg, nullptr, arg ? 1u : 0u, 0};
    if (flags & DISPATCH_PROPERTYPUT) params.rgdispidNamedArgs = &put, params.cNamedArgs = 1;
    return control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                            nullptr);
  }
  LONG GetLong(DISPID id) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(Call(id, DISPATCH_PROPERTYGET, nullptr, &v))) Fail("a property get failed");
    VARIANT l;
    VariantInit(&l);
    const LONG value = SUCCEEDED(VariantChangeType(&l, &v, 0, VT_I4)) ? V_I4(&l) : 0;
    VariantClear(&v);
    return value;
  }
  void StillAnswers() {
    Beat("asking the control whether it still answers");
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = Call(kEnabled, DISPATCH_PROPERTYGET, nullptr, &v);
    if (hr != S_OK || V_VT(&v) != VT_BOOL) Fail("the control stopped answering (0x%08lX)", hr);
  }

  // A device that accepted a format must have been given one of the twelve.
  void CheckInitialised() {
    const LONG rate = GetLong(kSamples), channels = GetLong(kChannels), bits = GetLong(kBits);
    const bool format = (rate == 11025 || rate == 22050 || rate == 44100) &&
                        (channels == 1 || channels == 2) && (bits == 8 || bits == 16);
    const LONG ring = GetLong(kLength);
    if (!format || ring < channels * bits / 8 || ring > 0x0FFFFFFF)
      Fail("Init_DSWendrix succeeded for %ld Hz, %ld channels, %ld bits, a ring of %ld bytes", rate,
           channels, bits, ring);
    ++counts_.inits;
  }

  void LoadBag() {
    Beat("loading a random property bag");
    ++counts_.bags;
    Bag bag;
    Arena arena;
    const int n = static_cast<int>(r_.Below(16));
    for (int i = 0; i < n; ++i) {
      VARIANT v = RandomVariant(r_, arena);
      if (r_.Chance(50)) {  // a plain number, as a form usually holds
        VariantInit(&v);
        V_VT(&v) = VT_I4;
        V_I4(&v) =
            static_cast<LONG>(std::fmax(-2147483648.0, std::fmin(2147483647.0, r_.Number())));
      }
      VARIANT copy;
      VariantInit(&copy);
      if (SUCCEEDED(VariantCopyInd(&copy, &v))) bag.Write(kKeys[r_.Below(std::size(kKeys))], &copy);
      VariantClear(&copy);
    }
    ComPtr<IPersistPropertyBag> persist;
    if (FAILED(control_.As(&persist))) Fail("no IPersistPropertyBag");
    if (persist->Load(&bag, nullptr) == S_OK && r_.Chance(60)) InitRestored();
  }

  // What a form does after a restore: open the recorder.
  void InitRestored() {
    Beat("Init_DSWendrix after a restore");
    VARIANT ok;
    VariantInit(&ok);
    if (Call(kInit, DISPATCH_METHOD, nullptr, &ok) == S_OK) CheckInitialised();
  }

  void LoadStream() {
    Beat("loading a mutated saved stream");
    ++counts_.streams;
    ComPtr<IPersistStreamInit> persist;
    if (FAILED(control_.As(&persist))) Fail("no IPersistStreamInit");
    ComPtr<IStream> saved;
    CreateStreamOnHGlobal(nullptr, TRUE, &saved);
    if (FAILED(persist->Save(saved.Get(), FALSE))) return;
    STATSTG stat{};
    saved->Stat(&stat, STATFLAG_NONAME);
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    saved->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    saved->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    const int steps = 1 + static_cast<int>(r_.Below(6));
    for (int i = 0; i < steps && !bytes.empty(); ++i) {
      const size_t at = r_.Below(static_cast<uint32_t>(bytes.size()));
      switch (r_.Below(5)) {
        case 0:
          bytes[at] ^= static_cast<uint8_t>(1u << r_.Below(8));
          break;
        case 1:
          bytes[at] = static_cast<uint8_t>(r_.Next());
          break;
        case 2:
          bytes.resize(at);
          break;
        case 3:
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       static_cast<uint8_t>(r_.Next()));
          break;
        default:
          if (at + 4 <= bytes.size()) {
            const uint32_t v = static_cast<uint32_t>(r_.Number());
            std::memcpy(&bytes[at], &v, 4);
          }
          break;
      }
    }
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    if (persist->Load(stream.Get()) == S_OK && r_.Chance(60)) InitRestored();
  }

  void RandomInvoke() {
    Beat("invoking a random member");
    ++counts_.invokes;
    Arena arena;
    DISPID id;
    const bool known = r_.Chance(85);
    if (known) {
      id = ids_[r_.Below(static_cast<uint32_t>(ids_.size()))];
    } else {
      static const DISPID kOthers[] = {0, -1, -3, -4, -5, 1, 0x6003001D, 0x68030010, 0x7FFFFFFF};
      id = r_.Chance(50) ? kOthers[r_.Below(std::size(kOthers))] : static_cast<DISPID>(r_.Next());
    }
    WORD flags = static_cast<WORD>(r_.Below(16));
    UINT count = r_.Below(4);
    VARIANT args[3];
    for (UINT i = 0; i < count; ++i) args[i] = RandomVariant(r_, arena);
    if (r_.Chance(10)) {  // a start as a host writes it, with a name of any kind
      id = kStart, flags = DISPATCH_METHOD, count = 1;
      VariantInit(&args[0]);
      V_VT(&args[0]) = VT_BSTR;
      V_BSTR(&args[0]) = arena.Bstr(r_.Text());
    }
    DISPID named[1] = {DISPID_PROPERTYPUT};
    UINT named_count = 0;
    if (count && r_.Chance(40)) {
      named_count = 1;
      if (r_.Chance(30)) named[0] = static_cast<DISPID>(r_.Below(4));
    }
    DISPPARAMS params{count ? args : nullptr, named_count ? named : nullptr, count, named_count};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT arg_error = 0;
    const bool want_result = r_.Chance(80);
    const HRESULT hr = control_->Invoke(
        id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, want_result ? &result : nullptr,
        r_.Chance(80) ? &exception : nullptr, r_.Chance(80) ? &arg_error : nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);

    bool is_member = false;
    for (DISPID m : ids_) is_member = is_member || m == id;
    if (SUCCEEDED(hr) && !is_member) Fail("Invoke of the unknown DISPID 0x%lX succeeded", id);
    const bool put_only = flags == DISPATCH_PROPERTYPUT || flags == DISPATCH_PROPERTYPUTREF;
    if (SUCCEEDED(hr) && put_only && (id == kPosition || id == kDbLeft || id == kDbRight))
      Fail("a put of the read-only property 0x%lX succeeded", id);
    if (hr == S_OK && id == kInit && (flags & DISPATCH_METHOD) && count == 0) CheckInitialised();
    if (hr == S_OK && id == kStart && want_result && V_VT(&result) == VT_BOOL &&
        V_BOOL(&result) != VARIANT_FALSE) {
      ++counts_.started;
      // A name that cannot reach the file system exactly must never start a recording.
      const VARIANT* name = count ? &args[0] : nullptr;
      while (name && V_VT(name) == (VT_VARIANT | VT_BYREF)) name = V_VARIANTREF(name);
      const BSTR text = !name                                ? nullptr
                        : V_VT(name) == VT_BSTR              ? V_BSTR(name)
                        : V_VT(name) == (VT_BSTR | VT_BYREF) ? *V_BSTRREF(name)
                                                             : nullptr;
      if (text) {
        for (UINT i = 0; i < SysStringLen(text); ++i) {
          const wchar_t c = text[i];
          const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
          const bool paired =
              high && i + 1 < SysStringLen(text) && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
          if (c == 0 || (high && !paired) || low) Fail("Wendrix_Start took a name it cannot pass");
          if (paired) ++i;
        }
      }
    }
    VariantClear(&result);
  }

  // A short recording from the device, with changes and refused reloads while it runs.
  void Record() {
    Beat("recording");
    ++counts_.recordings;
    VARIANT yes;
    VariantInit(&yes);
    V_VT(&yes) = VT_BOOL, V_BOOL(&yes) = VARIANT_TRUE;
    Call(kEnabled, DISPATCH_PROPERTYPUT, &yes, nullptr);
    VARIANT ok;
    VariantInit(&ok);
    if (Call(kInit, DISPATCH_METHOD, nullptr, &ok) != S_OK) return;  // a restored bad format
    CheckInitialised();
    VARIANT name;
    VariantInit(&name);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(L"take.wav");
    VARIANT started;
    VariantInit(&started);
    const HRESULT hr = Call(kStart, DISPATCH_METHOD, &name, &started);
    VariantClear(&name);
    if (hr != S_OK || V_BOOL(&started) == VARIANT_FALSE) return;
    ++counts_.started;
    const int steps = 1 + static_cast<int>(r_.Below(5));
    for (int i = 0; i < steps; ++i) {
      Pump(20 + static_cast<int>(r_.Below(60)));
      switch (r_.Below(4)) {
        case 0: {
          Beat("loading a bag while recording");
          Bag bag;
          ComPtr<IPersistPropertyBag> persist;
          control_.As(&persist);
          if (persist->Load(&bag, nullptr) != E_UNEXPECTED)
            Fail("Load during a recording was not refused");
          break;
        }
        case 1: {
          Beat("changing a format property while recording");
          VARIANT v;
          VariantInit(&v);
          V_VT(&v) = VT_I4, V_I4(&v) = r_.Chance(50) ? 22050 : 1;
          Call(r_.Chance(50) ? kSamples : kShowVU, DISPATCH_PROPERTYPUT, &v, nullptr);
          break;
        }
        case 2: {
          Beat("reading the position while recording");
          VARIANT v;
          VariantInit(&v);
          Call(kPosition, DISPATCH_PROPERTYGET, nullptr, &v);
          VariantClear(&v);
          break;
        }
        default:
          RandomInvoke();
          break;
      }
    }
    Beat("stopping a recording");
    VARIANT stopped;
    VariantInit(&stopped);
    Call(kStop, DISPATCH_METHOD, nullptr, &stopped);
    Call(kAuto, DISPATCH_PROPERTYGET, nullptr, &stopped);
  }

  ComPtr<IDispatch> control_;
  const std::vector<DISPID>& ids_;
  Random& r_;
  Counts& counts_;
};

uint64_t Setting(int argc, char** argv, const char* flag, const char* env, uint64_t fallback) {
  uint64_t value = fallback;
  if (const char* s = std::getenv(env)) value = std::strtoull(s, nullptr, 10);
  const size_t n = std::strlen(flag);
  for (int i = 1; i < argc; ++i)
    if (!std::strncmp(argv[i], flag, n)) value = std::strtoull(argv[i] + n, nullptr, 10);
  return value;
}

void RemoveFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  seed = Setting(argc, argv, "--seed=", "WENDRIX_FUZZ_SEED", 1);
  const uint64_t iterations = Setting(argc, argv, "--iterations=", "WENDRIX_FUZZ_ITERATIONS", 200);
  const uint64_t first = Setting(argc, argv, "--first=", "WENDRIX_FUZZ_FIRST", 0);
  const uint64_t seconds = Setting(argc, argv, "--seconds=", "WENDRIX_FUZZ_SECONDS", 0);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(&OnCrash);
  if (FAILED(OleInitialize(nullptr))) Fail("OleInitialize failed");

  // Files the control makes land in a folder of their own, removed at the end.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"wendrix-fuzz-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  SetCurrentDirectoryW(folder.c_str());

  std::atomic<bool> done{false};
  std::thread watchdog(Watchdog, std::ref(done), 30);
  Counts counts;
  uint64_t ran = 0;
  {
    ComPtr<IClassFactory> factory = Factory();
    std::vector<DISPID> ids;
    {
      ComPtr<IDispatch> probe;
      if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&probe)))) Fail("no control");
      ids = MemberIds(probe.Get());
    }
    const auto start = Clock::now();
    for (uint64_t i = first; i < first + iterations; ++i) {
      if (seconds && Clock::now() - start > std::chrono::seconds(seconds)) break;
      iteration = i;
      Random r(seed * 0x9E3779B97F4A7C15ull + i);
      Session(factory.Get(), ids, r, counts).Run();
      ++ran;
    }
  }
  done = true;
  watchdog.join();
  SetCurrentDirectoryW(temp);
  RemoveFolder(folder);
  OleUninitialize();
  std::printf(
      "ocx_fuzz: %llu iterations from %llu (seed %llu) passed: %llu Invoke calls, %llu bags, "
      "%llu streams, %llu recordings tried, %llu successful Init_DSWendrix, %llu recordings "
      "started, %d message "
      "boxes closed\n",
      static_cast<unsigned long long>(ran), static_cast<unsigned long long>(first),
      static_cast<unsigned long long>(seed), static_cast<unsigned long long>(counts.invokes),
      static_cast<unsigned long long>(counts.bags), static_cast<unsigned long long>(counts.streams),
      static_cast<unsigned long long>(counts.recordings),
      static_cast<unsigned long long>(counts.inits),
      static_cast<unsigned long long>(counts.started), boxes_closed.load());
  return 0;
}
