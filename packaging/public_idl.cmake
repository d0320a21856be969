# cmake -DIN=resources/Wendrix.idl -DOUT=include/Wendrix.idl -P public_idl.cmake
# Writes the shipped IDL: the build's notes on how it finishes the library give way to a note
# for the reader, and the build's stand-in for the platform IDL files to the platform's own.
file(READ ${IN} idl)
string(FIND "${idl}" "import \"automation_base.idl\";" at)
if(at LESS 0)
  message(FATAL_ERROR "${IN}: no import of automation_base.idl")
endif()
string(SUBSTRING "${idl}" ${at} -1 body)
string(REPLACE "import \"automation_base.idl\";" "import \"ocidl.idl\";" body "${body}")
file(WRITE ${OUT} "// Wendrix.ocx's type library, Wendrix 2.0: the control class DSWendrixControl, its dual
// interface _DSWendrixControl, its event interface __DSWendrixControl, the enumerations and the
// wave format record. Wendrix.h beside it was generated from this file by widl (MIDL, with the
// Windows SDK's ocidl.idl, should make an equivalent one; not tried). Wendrix.tlb beside it is
// the library exactly as Wendrix.ocx embeds it: import that one rather than a library compiled
// from this file.

${body}")
