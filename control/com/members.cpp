// The properties and methods of _DSWendrixControl: each converts its arguments and calls the
// core.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/win32/text.h"

namespace wendrix::com {
namespace {

// A value put into a property that refuses every put: an argument the core cannot hold still
// reaches the put, which reports the refusal.
Variant LenientValue(const VARIANT& v) {
  try {
    return FromVariant(v);
  } catch (const Error&) {
    return Variant();
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// _DSWendrixControl

STDMETHODIMP ControlObject::Wendrix_Stop(VARIANT_BOOL* result) {
  return Read(result, [&] { return control_->Wendrix_Stop(); });
}
STDMETHODIMP ControlObject::get_Enabled(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_Enabled(); });
}
STDMETHODIMP ControlObject::put_Enabled(VARIANT_BOOL value) {
  return Call([&] { control_->put_Enabled(value); });
}
STDMETHODIMP ControlObject::get_SamplesPerSecond(Samples* value) {
  return Read(value, [&] { return control_->get_SamplesPerSecond(); });
}
STDMETHODIMP ControlObject::put_SamplesPerSecond(Samples value) {
  return Call([&] { control_->put_SamplesPerSecond(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_NumChannels(channels* value) {
  return Read(value, [&] { return control_->get_NumChannels(); });
}
STDMETHODIMP ControlObject::put_NumChannels(channels value) {
  return Call([&] { control_->put_NumChannels(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_BitsPerSample(Bits* value) {
  return Read(value, [&] { return control_->get_BitsPerSample(); });
}
STDMETHODIMP ControlObject::put_BitsPerSample(Bits value) {
  return Call([&] { control_->put_BitsPerSample(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::Init_DSWendrix(VARIANT_BOOL* result) {
  return Read(result, [&] { return control_->Init_DSWendrix(); });
}
STDMETHODIMP ControlObject::UnInit_DSWendrix(VARIANT_BOOL* result) {
  return Read(result, [&] { return control_->UnInit_DSWendrix(); });
}
STDMETHODIMP ControlObject::get_BufferLength(LONG* value) {
  return Read(value, [&] { return control_->get_BufferLength(); });
}
STDMETHODIMP ControlObject::put_BufferLength(LONG value) {
  return Call([&] { control_->put_BufferLength(value); });
}
// The caller's string is read, never written: it keeps its text whatever happens.
STDMETHODIMP ControlObject::Wendrix_Start(BSTR* file_name, VARIANT_BOOL* result) {
  if (!file_name || !result) return Refuse(E_POINTER);
  return Call([&] { *result = control_->Wendrix_Start(win32::NarrowBstr(*file_name)); });
}
STDMETHODIMP ControlObject::get_AutoCalculateBuff(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_AutoCalculateBuff(); });
}
STDMETHODIMP ControlObject::put_AutoCalculateBuff(VARIANT_BOOL value) {
  return Call([&] { control_->put_AutoCalculateBuff(value); });
}
STDMETHODIMP ControlObject::get_BufferPosition(VARIANT* value) {
  if (!value) return Refuse(E_POINTER);
  VariantInit(value);
  return Call([&] { ToVariant(control_->get_BufferPosition(), value); });
}
STDMETHODIMP ControlObject::put_BufferPosition(VARIANT value) {
  return Call([&] { control_->put_BufferPosition(LenientValue(value)); });
}
STDMETHODIMP ControlObject::get_BackColor(OLE_COLOR* value) {
  return Read(value, [&] { return control_->get_BackColor(); });
}
STDMETHODIMP ControlObject::put_BackColor(OLE_COLOR value) {
  return Call([&] { control_->put_BackColor(value); });
}
STDMETHODIMP ControlObject::get_BackStyle(BackStyle* value) {
  return Read(value, [&] { return control_->get_BackStyle(); });
}
STDMETHODIMP ControlObject::put_BackStyle(BackStyle value) {
  return Call([&] { control_->put_BackStyle(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_BorderStyle(BorderStyle* value) {
  return Read(value, [&] { return control_->get_BorderStyle(); });
}
STDMETHODIMP ControlObject::put_BorderStyle(BorderStyle value) {
  return Call([&] { control_->put_BorderStyle(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_ShowVU(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_ShowVU(); });
}
STDMETHODIMP ControlObject::put_ShowVU(VARIANT_BOOL value) {
  return Call([&] { control_->put_ShowVU(value); });
}
STDMETHODIMP ControlObject::get_ShowVUScale(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_ShowVUScale(); });
}
STDMETHODIMP ControlObject::put_ShowVUScale(VARIANT_BOOL value) {
  return Call([&] { control_->put_ShowVUScale(value); });
}
STDMETHODIMP ControlObject::get_dBLeft(VARIANT* value) {
  if (!value) return Refuse(E_POINTER);
  VariantInit(value);
  return Call([&] { ToVariant(control_->get_dBLeft(), value); });
}
STDMETHODIMP ControlObject::put_dBLeft(VARIANT value) {
  return Call([&] { control_->put_dBLeft(LenientValue(value)); });
}
STDMETHODIMP ControlObject::get_dBRight(VARIANT* value) {
  if (!value) return Refuse(E_POINTER);
  VariantInit(value);
  return Call([&] { ToVariant(control_->get_dBRight(), value); });
}
STDMETHODIMP ControlObject::put_dBRight(VARIANT value) {
  return Call([&] { control_->put_dBRight(LenientValue(value)); });
}

}  // namespace wendrix::com
