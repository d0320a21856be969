// The edge between COM and the core: VARIANT <-> Variant, and one place that turns every
// failure into an HRESULT with rich error information. No exception crosses a COM boundary.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <new>
#include <utility>

#include "platform/error.h"
#include "platform/variant.h"

namespace wendrix::com {

// The source every error of the control names.
inline constexpr wchar_t kErrorSource[] = L"Wendrix.DSWendrixControl";

// Copies a core value into an uninitialised VARIANT. Throws std::bad_alloc.
void ToVariant(const Variant& value, VARIANT* out);

// The core value of a VARIANT (by reference or not), of the same type: a Null stays Null, a
// Date a Date, a UI4 a ULong. Objects, arrays and records fail with run-time error 13.
Variant FromVariant(const VARIANT& value);

// Sets the thread's error information for `error` and returns its HRESULT (0x800A0000 + number
// for a run-time error, the platform's own HRESULT for a platform error). Allocates nothing of
// the C++ heap: without memory for the description it leaves no error information at all.
HRESULT ReportError(const Error& error) noexcept;

// For a call that fails without a run-time error of its own (E_POINTER, E_OUTOFMEMORY, ...):
// sets the thread's error information to the system's text for `hr`, or clears it when none
// can be made, so that no earlier, unrelated description is taken for this failure. Returns hr.
HRESULT Refuse(HRESULT hr) noexcept;

// Runs `body` and returns S_OK, or the HRESULT of what it threw, with the error information set.
// The handlers allocate nothing that could throw again: nothing leaves, whatever `body` throws.
template <typename Body>
HRESULT Guard(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return S_OK;
  } catch (const Error& e) {
    return ReportError(e);
  } catch (const std::bad_alloc&) {
    return Refuse(E_OUTOFMEMORY);
  } catch (...) {
    return Refuse(E_UNEXPECTED);
  }
}

}  // namespace wendrix::com
