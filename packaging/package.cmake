# The release packages, one per bitness:
#   cmake --build --preset win32 --target package   ->  build/win32/Wendrix-<version>-win32.zip
#   cmake --build --preset win64 --target package   ->  build/win64/Wendrix-<version>-win64.zip
# Each holds Wendrix.ocx, its assembly manifest Wendrix.manifest (registration-free use),
# wendrix-host.exe, INSTALL.txt, the user guide (docs/) and the samples
# (with the C++ recorder built). The version is project(VERSION), which also gives the OCX its
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
file(GLOB_RECURSE sample_texts RELATIVE ${PROJECT_SOURCE_DIR}/samples CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/samples/*)
list(FILTER sample_texts EXCLUDE REGEX "(^|/)CMakeLists\\.txt$")
foreach(file IN LISTS sample_texts)
  configure_file(${PROJECT_SOURCE_DIR}/samples/${file} ${text_dir}/samples/${file} @ONLY
    NEWLINE_STYLE CRLF)
endforeach()

install(PROGRAMS $<TARGET_FILE:wendrix_ocx> $<TARGET_FILE:wendrix_host> DESTINATION .)
install(FILES ${text_dir}/INSTALL.txt ${WENDRIX_MANIFEST} DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs)
install(DIRECTORY ${text_dir}/samples/ DESTINATION samples)
install(PROGRAMS $<TARGET_FILE:wendrix_record_sample> DESTINATION samples/cpp)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Wendrix)
set(CPACK_PACKAGE_VENDOR Wendrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Wendrix-${PROJECT_VERSION}-${WENDRIX_PACKAGE_ARCH})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
