#include "control/com/boundary.h"

#include <iterator>

#include "Wendrix_h.h"
#include "platform/win32/system_error.h"
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
    case VarType::Null:
      V_VT(out) = VT_NULL;
      break;
    case VarType::Date:
      V_VT(out) = VT_DATE, V_DATE(out) = value.date();
      break;
    case VarType::Decimal: {
      const Decimal& d = value.decimal();
      DECIMAL& dec = V_DECIMAL(out);  // overlays the whole VARIANT, its type word included
      dec.scale = d.scale;
      dec.sign = d.sign;
      dec.Hi32 = d.hi32;
      dec.Lo64 = d.lo64;
      V_VT(out) = VT_DECIMAL;
      break;
    }
    case VarType::SByte:
      V_VT(out) = VT_I1, V_I1(out) = static_cast<CHAR>(value.other_integer());
      break;
    case VarType::Byte:
      V_VT(out) = VT_UI1, V_UI1(out) = static_cast<BYTE>(value.other_integer());
      break;
    case VarType::UShort:
      V_VT(out) = VT_UI2, V_UI2(out) = static_cast<USHORT>(value.other_integer());
      break;
    case VarType::ULong:
      V_VT(out) = VT_UI4, V_UI4(out) = static_cast<ULONG>(value.other_integer());
      break;
    case VarType::LongLong:
      V_VT(out) = VT_I8, V_I8(out) = value.other_integer();
      break;
    case VarType::ULongLong:
      V_VT(out) = VT_UI8, V_UI8(out) = static_cast<ULONGLONG>(value.other_integer());
      break;
    case VarType::Int:
      V_VT(out) = VT_INT, V_INT(out) = static_cast<INT>(value.other_integer());
      break;
    case VarType::UInt:
      V_VT(out) = VT_UINT, V_UINT(out) = static_cast<UINT>(value.other_integer());
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
      return Variant();
    case VT_NULL:
      return Variant::Null();
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
    case VT_DATE:
      return Variant::Date(V_DATE(&value));
    case VT_DECIMAL: {
      const DECIMAL& d = V_DECIMAL(&value);
      // A scale beyond 28 is no Decimal at all: the coercions refuse it.
      if (d.scale > 28) throw Error(errc::TypeMismatch);
      return Variant::Dec(Decimal{d.scale, static_cast<uint8_t>(d.sign & 0x80), d.Hi32, d.Lo64});
    }
    case VT_I1:
      return Variant::OtherInteger(VarType::SByte, V_I1(&value));
    case VT_UI1:
      return Variant::OtherInteger(VarType::Byte, V_UI1(&value));
    case VT_UI2:
      return Variant::OtherInteger(VarType::UShort, V_UI2(&value));
    case VT_UI4:
      return Variant::OtherInteger(VarType::ULong, V_UI4(&value));
    case VT_I8:
      return Variant::OtherInteger(VarType::LongLong, V_I8(&value));
    case VT_UI8:
      return Variant::OtherInteger(VarType::ULongLong, static_cast<int64_t>(V_UI8(&value)));
    case VT_INT:
      return Variant::OtherInteger(VarType::Int, V_INT(&value));
    case VT_UINT:
      return Variant::OtherInteger(VarType::UInt, V_UINT(&value));
    default:
      throw Error(errc::TypeMismatch);
  }
}

namespace {

// Sets the thread's error information to `description` (no C++ allocation: the error object
// and the BSTR are COM's); without memory for it, no older description is left behind either.
void SetDescription(const wchar_t* description) noexcept {
  ComPtr<ICreateErrorInfo> create;
  ComPtr<IErrorInfo> info;
  if (description && SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(IID__DSWendrixControl);
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetDescription(const_cast<LPOLESTR>(description));
    create.As(&info);
  }
  SetErrorInfo(0, info.Get());
}

}  // namespace

HRESULT ReportError(const Error& error) noexcept {
  const std::string& text = error.description();
  const int length = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  BSTR description = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (description && n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, description, n);
  SetDescription(description);
  SysFreeString(description);
  // A failure never travels as a success code, whatever the platform reported.
  const auto hr = static_cast<HRESULT>(error.hresult());
  return FAILED(hr) ? hr : E_FAIL;
}

HRESULT Refuse(HRESULT hr) noexcept {
  wchar_t text[1024];
  win32::HResultTextInto(hr, text, std::size(text));
  SetDescription(text);
  return hr;
}

}  // namespace wendrix::com
