#include "control/com/boundary.h"

#include "Wendrix_h.h"
#include "platform/win32/text.h"

namespace wendrix::com {

using Microsoft::WRL::ComPtr;

void ToVariant(const Variant& value, VARIANT* out) {
  VariantInit(out);
  switch (value.type()) {
    case VarType::Empty:
      break;
    case VarType::Integer:
      V_VT(out) = VT_I2, V_I2(out) = value.integer();
      break;
    case VarType::Long:
      V_VT(out) = VT_I4, V_I4(out) = value.long_value();
      break;
    case VarType::Single:
      V_VT(out) = VT_R4, V_R4(out) = value.single();
      break;
    case VarType::Double:
      V_VT(out) = VT_R8, V_R8(out) = value.double_value();
      break;
    case VarType::Currency:
      V_VT(out) = VT_CY, V_CY(out).int64 = value.currency().ten_thousandths;
      break;
    case VarType::String:
      V_BSTR(out) = win32::AllocBstr(value.string());
      V_VT(out) = VT_BSTR;
      break;
    case VarType::Error:
      V_VT(out) = VT_ERROR, V_ERROR(out) = value.error_code();
      break;
    case VarType::Boolean:
      V_VT(out) = VT_BOOL, V_BOOL(out) = value.boolean();
      break;
  }
}

Variant FromVariant(const VARIANT& in) {
  VARIANT value;
  VariantInit(&value);
  // A by-reference value is read through its reference; VariantCopyInd checks the type.
  if (V_VT(&in) & VT_BYREF) {
    if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&in)))) throw Error(errc::TypeMismatch);
  } else if (FAILED(VariantCopy(&value, const_cast<VARIANT*>(&in)))) {
    throw Error(errc::TypeMismatch);
  }
  struct Clear {
    VARIANT* v;
    ~Clear() { VariantClear(v); }
  } clear{&value};

  switch (V_VT(&value)) {
    case VT_EMPTY:
    case VT_NULL:
      return Variant();
    case VT_I2:
      return Variant::Integer(V_I2(&value));
    case VT_I4:
      return Variant::Long(V_I4(&value));
    case VT_R4:
      return Variant::Single(V_R4(&value));
    case VT_R8:
      return Variant::Double(V_R8(&value));
    case VT_CY:
      return Variant::Cy(Currency{V_CY(&value).int64});
    case VT_BSTR:
      return Variant::String(win32::NarrowBstr(V_BSTR(&value)));
    case VT_ERROR:
      return Variant::ErrorCode(V_ERROR(&value));
    case VT_BOOL:
      return Variant::Bool(V_BOOL(&value));
    case VT_I1:
      return Variant::Integer(V_I1(&value));
    case VT_UI1:
      return Variant::Integer(V_UI1(&value));
    case VT_UI2:
      return Variant::Long(V_UI2(&value));
    case VT_INT:
      return Variant::Long(V_INT(&value));
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_DATE:
    case VT_DECIMAL: {
      VARIANT d;
      VariantInit(&d);
      if (FAILED(VariantChangeType(&d, &value, 0, VT_R8))) throw Error(errc::TypeMismatch);
      return Variant::Double(V_R8(&d));
    }
    default:
      throw Error(errc::TypeMismatch);
  }
}

HRESULT ReportError(const Error& error) {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    std::wstring description = win32::Wide(error.description());
    create->SetGUID(IID__DSWendrixControl);
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetDescription(description.data());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
  }
  return static_cast<HRESULT>(error.hresult());
}

}  // namespace wendrix::com
