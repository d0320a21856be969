// The form file: the control's saved properties as readable text, in the style of a form
// description, and the property bag through which the control reads and writes them.
//
//   Begin Wendrix.DSWendrixControl Wendrix1
//      Enabled         =   -1  'True
//      SamplesPerSecond=   22050
//      dBLeft          =   -6.0206@
//   End
//
// Values keep their Automation type: Booleans as -1/0 with a 'True/'False remark, Longs as
// plain numbers, other numbers with the type character of their kind (% Integer, ! Single,
// # Double, @ Currency), Strings in double quotes (a quote inside doubled).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/automation.h"

namespace wendrix::host {

class FormFile {
 public:
  // Reads `path`; throws HostError (with the line) when the text is not a form file.
  static FormFile Read(const std::wstring& path);
  // Writes the text to `path` (replacing it); throws HostError when it cannot.
  void Write(const std::wstring& path) const;

  std::string Text() const;
  std::wstring name = L"Wendrix1";
  // Keys in the order the control wrote them, each with its value.
  std::vector<std::pair<std::wstring, std::wstring>> entries;  // key, value as written
};

// An IPropertyBag over a FormFile: Read converts the text back into its VARIANT (and into the
// type the caller asks for, when it asks), Write turns a VARIANT into text. A key the form does
// not hold reads as E_INVALIDARG, so the control takes its default.
ComPtr<IPropertyBag> MakeFormBag(FormFile* form);

// A value as form text, and back.
std::wstring ValueToText(const VARIANT& value);
HRESULT TextToValue(const std::wstring& text, VARIANT* value);

}  // namespace wendrix::host
