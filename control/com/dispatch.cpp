// IDispatch through the type library, IProvideClassInfo2 and ISupportErrorInfo.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

constexpr DISPID kWendrixStartId = 0x6003001C;

}  // namespace

// ---------------------------------------------------------------------------------------------
// IDispatch

STDMETHODIMP ControlObject::GetTypeInfoCount(UINT* count) {
  if (!count) return Refuse(E_POINTER);
  *count = 1;
  return S_OK;
}

STDMETHODIMP ControlObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  if (!out) return Refuse(E_POINTER);
  *out = nullptr;
  if (index != 0) return Refuse(DISP_E_BADINDEX);
  *out = dispatch_info_.Get();
  (*out)->AddRef();
  return S_OK;
}

STDMETHODIMP ControlObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) {
  if (riid != IID_NULL) return Refuse(DISP_E_UNKNOWNINTERFACE);
  const HRESULT hr = vtable_info_->GetIDsOfNames(names, count, ids);
  return FAILED(hr) ? Refuse(hr) : hr;
}

STDMETHODIMP ControlObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
  if (riid != IID_NULL) return Refuse(DISP_E_UNKNOWNINTERFACE);
  ComPtr<IUnknown> keep(Identity());
  // A script engine passes a variable by reference as a Variant; Wendrix_Start takes the String
  // it holds (by reference, and leaves it as it is) instead of failing with a type mismatch.
  DISPPARAMS script_params;
  VARIANT file_name;
  if (id == kWendrixStartId && params && params->cArgs == 1 && params->rgvarg &&
      V_VT(&params->rgvarg[0]) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&params->rgvarg[0]) &&
      V_VT(V_VARIANTREF(&params->rgvarg[0])) == VT_BSTR) {
    VariantInit(&file_name);
    V_VT(&file_name) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&file_name) = &V_BSTR(V_VARIANTREF(&params->rgvarg[0]));
    script_params = *params;
    script_params.rgvarg = &file_name;
    params = &script_params;
  }
  HRESULT hr = vtable_info_->Invoke(static_cast<_DSWendrixControl*>(this), id, flags, params,
                                    result, exception, arg_error);
  // A failed call hands back no value (the type library's Invoke copies the unset result).
  if (FAILED(hr) && result) VariantClear(result);
  // A call refused before it reached the control (an unknown member, a wrong argument) leaves
  // its own description, not an older one; DISP_E_EXCEPTION carries the control's in EXCEPINFO.
  if (FAILED(hr) && hr != DISP_E_EXCEPTION) Refuse(hr);
  // An OLE_COLOR comes back as a Long, as hosts expect colours (script engines cannot use an
  // unsigned Long; system colours are the negative Longs &H80000000 + index).
  if (SUCCEEDED(hr) && result && V_VT(result) == VT_UI4) {
    LONG color = static_cast<LONG>(V_UI4(result));
    V_VT(result) = VT_I4;
    V_I4(result) = color;
  }
  return hr;
}

// ---------------------------------------------------------------------------------------------
// IProvideClassInfo2, ISupportErrorInfo

STDMETHODIMP ControlObject::GetClassInfo(ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return library_->GetTypeInfoOfGuid(CLSID_DSWendrixControl, out);
}

STDMETHODIMP ControlObject::GetGUID(DWORD kind, GUID* out) {
  if (!out) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *out = GUID_NULL;
    return E_INVALIDARG;
  }
  *out = DIID___DSWendrixControl;
  return S_OK;
}

// The persistence interfaces report their failures (a bad saved value, a damaged stream) with
// error information as well.
STDMETHODIMP ControlObject::InterfaceSupportsErrorInfo(REFIID riid) {
  for (const IID* iid : {&IID__DSWendrixControl, &IID_IDispatch, &IID_IPersistPropertyBag,
                         &IID_IPersistStreamInit, &IID_IPersistStream, &IID_IPersistStorage})
    if (riid == *iid) return S_OK;
  return S_FALSE;
}

}  // namespace wendrix::com
