// What the form host needs from OLE Automation to drive a control late-bound, as a form's code
// does: properties and methods by name, values as text, failures with the control's own words.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <ole2.h>
#include <olectl.h>
#include <windows.h>
#include <wrl/client.h>

#include <stdexcept>
#include <string>

namespace wendrix::host {

using Microsoft::WRL::ComPtr;

std::string Utf8(const wchar_t* text);
inline std::string Utf8(const std::wstring& text) { return Utf8(text.c_str()); }
std::wstring Wide(const std::string& utf8);

// A failed call: what was called, its HRESULT and the error's description when there is one.
class HostError : public std::runtime_error {
 public:
  HostError(const std::string& what, HRESULT hr);
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// Throws HostError for a failed HRESULT.
void Check(HRESULT hr, const std::string& what);

// A VARIANT that clears itself.
struct Value {
  VARIANT v;
  Value() { VariantInit(&v); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value() { VariantClear(&v); }
  // The value as a form would print it: True/False, numbers, strings as they are.
  std::string Text() const;
  // The value as a number when it is one (or converts to one); false otherwise.
  bool AsDouble(double* out) const;
};

// The control's IDispatch, called by member name (GetIDsOfNames on every call, as a script does).
class Automation {
 public:
  explicit Automation(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}
  IDispatch* get() const { return dispatch_.Get(); }

  void Get(const wchar_t* name, Value* result) const;
  void Put(const wchar_t* name, VARIANT value) const;
  void PutLong(const wchar_t* name, LONG value) const;
  void PutBool(const wchar_t* name, bool value) const;
  // A method without arguments that returns a Boolean.
  bool CallBool(const wchar_t* name) const;
  // Wendrix_Start's shape: one String argument, passed by reference, Boolean result.
  bool CallBoolWithString(const wchar_t* name, const std::wstring& text) const;
  // The member's name for a DISPID, from the control's type information ("?" if none).
  std::string NameOf(DISPID id) const;

 private:
  DISPID IdOf(const wchar_t* name) const;
  void Invoke(const wchar_t* name, WORD flags, DISPPARAMS* params, VARIANT* result) const;
  ComPtr<IDispatch> dispatch_;
};

}  // namespace wendrix::host
