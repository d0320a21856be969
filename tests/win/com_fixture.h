// Shared by the tests of Wendrix.ocx: the built module, controls created from it, and calls
// through IDispatch as a host makes them.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "Wendrix_h.h"

namespace wendrix::com_test {

using Microsoft::WRL::ComPtr;

// The built Wendrix.ocx as a Windows path.
std::wstring OcxPath();

// This process's open "Wendrix" message box, if any, and the message it shows.
HWND FindOwnBox();
std::wstring BoxText(HWND box);

// A new control from the module's class factory (no registration needed).
ComPtr<IDispatch> CreateControl();

// An owned VARIANT.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  Var(Var&& o) noexcept : v(o.v) { VariantInit(&o.v); }
  ~Var() { VariantClear(&v); }
  VARIANT* operator&() { return &v; }
  static Var I2(SHORT x);
  static Var I4(LONG x);
  static Var R8(double x);
  static Var Bool(bool x);
  static Var Str(const wchar_t* s);
  // The value as a Long (VariantChangeType); fails the test when it cannot convert.
  LONG AsLong() const;
  std::wstring AsText() const;
};

// The outcome of one IDispatch::Invoke.
struct Outcome {
  HRESULT hr = S_OK;
  Var result;
  EXCEPINFO exception{};
  UINT arg_error = ~0u;
  ~Outcome();
};

// Invokes `id` with `flags` and the arguments in the host's order (first argument first).
// A property put gets its value as the named argument DISPID_PROPERTYPUT.
void Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT*> args, Outcome& out);
// Resolves `name` through GetIDsOfNames and invokes it.
void InvokeByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT*> args,
                  Outcome& out);

// Runs this thread's messages for `ms` milliseconds, as a host's message loop does.
void PumpFor(int ms);
// Invokes `name` (a method unless `flags` say otherwise), expecting no error: whether it returned
// True.
bool Call(IDispatch* control, const wchar_t* name, std::vector<VARIANT*> args = {},
          WORD flags = DISPATCH_METHOD);

// The last Release of `object`, which must be the only reference: returns the count it gave.
template <typename I>
ULONG ReleaseLast(ComPtr<I>& object) {
  return object.Detach()->Release();
}

// The rich error information the failing call left on this thread.
struct ErrorText {
  std::wstring source, description;
};
ErrorText TakeErrorInfo();

// A client site whose ambient UserMode answers `user_mode`.
ComPtr<IOleClientSite> MakeSite(bool user_mode);

}  // namespace wendrix::com_test
