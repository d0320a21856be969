# The release packages, one per bitness:
#   cmake --build --preset win32 --target package   ->  build/win32/Wendrix-<version>-win32.zip
#   cmake --build --preset win64 --target package   ->  build/win64/Wendrix-<version>-win64.zip
# Each holds, in one top folder Wendrix-<version>-win32|win64, Wendrix.ocx, its assembly manifest
# Wendrix.manifest (registration-free use), wendrix-host.exe, INSTALL.txt, LICENSE.txt, the user
# guide (docs/, in Markdown and as HTML pages), include/ (Wendrix.idl, Wendrix.h, Wendrix.tlb)
# and the samples (with the C++ recorder built); docs/install.md lists every file, and the
# package check holds the zip to that list. The version is project(VERSION), which also gives the OCX its
# file version. Included from the top-level CMakeLists.txt (Windows builds only).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WENDRIX_PACKAGE_ARCH win64)
else()
  set(WENDRIX_PACKAGE_ARCH win32)
endif()

# Text files a Windows user opens get CRLF line ends: Notepad of older Windows shows LF-only
# files as one line, and VB6 refuses a form or project file without CRLF. configure_file keeps
# them current (CMake re-runs when one changes) and fills in @PROJECT_VERSION@.
set(text_dir ${PROJECT_BINARY_DIR}/package-text)
configure_file(${CMAKE_CURRENT_LIST_DIR}/INSTALL.txt ${text_dir}/INSTALL.txt @ONLY
  NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE.txt ${text_dir}/LICENSE.txt @ONLY
  NEWLINE_STYLE CRLF)
file(GLOB_RECURSE sample_texts RELATIVE ${PROJECT_SOURCE_DIR}/samples CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/samples/*)
list(FILTER sample_texts EXCLUDE REGEX "(^|/)CMakeLists\\.txt$")
foreach(file IN LISTS sample_texts)
  configure_file(${PROJECT_SOURCE_DIR}/samples/${file} ${text_dir}/samples/${file} @ONLY
    NEWLINE_STYLE CRLF)
endforeach()

# The guide as HTML pages beside the Markdown ones (a double click opens them), written by
# Debian's python3-markdown: the system Python, which has it, not another one on the PATH.
find_program(WENDRIX_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
file(GLOB guide_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
set(html_dir ${PROJECT_BINARY_DIR}/package-html)
set(html_pages)
foreach(page IN LISTS guide_pages)
  get_filename_component(name ${page} NAME_WE)
  list(APPEND html_pages ${html_dir}/${name}.html)
endforeach()
add_custom_command(OUTPUT ${html_pages}
  COMMAND ${WENDRIX_DEBIAN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/make_html.py ${html_dir} ${guide_pages}
  DEPENDS ${guide_pages} ${CMAKE_CURRENT_LIST_DIR}/make_html.py
  COMMENT "The user guide as HTML")
add_custom_target(wendrix_guide_html ALL DEPENDS ${html_pages})

install(PROGRAMS $<TARGET_FILE:wendrix_ocx> $<TARGET_FILE:wendrix_host> DESTINATION .)
install(FILES ${text_dir}/INSTALL.txt ${text_dir}/LICENSE.txt ${WENDRIX_MANIFEST} DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs)
install(FILES ${html_pages} DESTINATION docs)
# For C, C++ and Delphi developers: the IDL, the header made from it, and the type library
# exactly as Wendrix.ocx embeds it (for tools that import a .tlb).
install(FILES ${WENDRIX_PUBLIC_INCLUDE_DIR}/Wendrix.idl ${WENDRIX_PUBLIC_INCLUDE_DIR}/Wendrix.h
  ${WENDRIX_TYPELIB_FILE} DESTINATION include)
install(DIRECTORY ${text_dir}/samples/ DESTINATION samples)
install(PROGRAMS $<TARGET_FILE:wendrix_record_sample> DESTINATION samples/cpp)
# With a certificate configured when the package or the installer is made (WENDRIX_SIGN_PFX, see
# scripts/sign), every packaged program is Authenticode-signed (the OCX, the host program and the
# C++ sample's recorder); the build tree's stay as built.
install(CODE "
  if(DEFINED ENV{WENDRIX_SIGN_PFX} AND NOT \"\$ENV{WENDRIX_SIGN_PFX}\" STREQUAL \"\")
    set(staged \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/sign
        \"\${staged}/Wendrix.ocx\" \"\${staged}/wendrix-host.exe\"
        \"\${staged}/samples/cpp/wendrix-record.exe\"
      RESULT_VARIABLE signed)
    if(NOT signed EQUAL 0)
      message(FATAL_ERROR \"signing the packaged modules failed\")
    endif()
  endif()")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Wendrix)
set(CPACK_PACKAGE_VENDOR Wendrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Wendrix-${PROJECT_VERSION}-${WENDRIX_PACKAGE_ARCH})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
