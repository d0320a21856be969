// UTF-16 text (the platform's file names and BSTRs) in the core's UTF-8 strings, without loss:
// a UTF-16 string that is not valid Unicode (an unpaired surrogate) keeps its code unit, so that
// whoever passes the text on exactly can tell it apart from a valid name.
#pragma once

#include <cstddef>
#include <string>

namespace wendrix {

// UTF-8 of UTF-16 text. An unpaired surrogate becomes its 3-byte form (ED A0 80 to ED BF BF),
// which is not valid UTF-8; a NUL stays a NUL.
std::string Utf8FromUtf16(const char16_t* text, size_t length);

// The UTF-16 form of valid UTF-8 text. False, with `out` unspecified, for anything that is not
// valid UTF-8 (a stray or missing continuation byte, an overlong form, an encoded surrogate, a
// code point above U+10FFFF).
bool Utf16FromUtf8(const std::string& utf8, std::u16string& out);

// Why a file name cannot be handed to the file system as it is, or "" when it can: a NUL
// would end it early, and text that is not valid Unicode would name another file.
std::string FileNameProblem(const std::string& utf8);

}  // namespace wendrix
