# The installer of this bitness and the WiX fragment for vendors:
#   cmake --build --preset win64 --target msi   ->  build/win64/Wendrix-<version>-win64.msi
# Both hold the registry that Wendrix.ocx's own registration writes, captured at build time:
# registry_capture runs DllRegisterServer under Wine with the process's HKLM, HKCR and HKCU
# pointed at a scratch key (the prefix's registry is not touched) and lists what was written;
# make_wxs.py turns the list into WiX source. A change to the registration reaches the
# installers at the next build. The capture runs with every build (like typelib_finish, it
# needs Wine, which the Windows builds already do), so that the release zip can ship the
# fragment as redist/Wendrix.wxs; the installer itself (wixl, from Debian's `wixl` and
# `msitools`) is built only by the target msi. Included from the top-level CMakeLists.txt after
# package.cmake (Windows builds only).
add_executable(registry_capture ${CMAKE_CURRENT_LIST_DIR}/registry_capture.cpp)
target_compile_options(registry_capture PRIVATE -municode)
target_link_options(registry_capture PRIVATE -municode)
target_link_libraries(registry_capture PRIVATE advapi32 ole32)

set(msi_dir ${PROJECT_BINARY_DIR}/msi)
# Wine sees the build tree under the drive Z: (Wendrix.ocx is built at the top of the tree).
string(REPLACE "/" "\\" ocx_windows "Z:${PROJECT_BINARY_DIR}/Wendrix.ocx")
string(REPLACE "/" "\\" capture_windows "Z:${msi_dir}/registration.txt")
add_custom_command(OUTPUT ${msi_dir}/registration.txt
  COMMAND ${CMAKE_COMMAND} -E make_directory ${msi_dir}
  COMMAND registry_capture register ${ocx_windows} ${capture_windows}
  DEPENDS registry_capture wendrix_ocx
  COMMENT "Capturing what Wendrix.ocx's registration writes"
  VERBATIM)
set(WENDRIX_VENDOR_WXS ${PROJECT_BINARY_DIR}/redist/Wendrix.wxs)
add_custom_command(OUTPUT ${WENDRIX_VENDOR_WXS} ${msi_dir}/registration.wxs ${msi_dir}/registration.sql
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/redist
  COMMAND ${WENDRIX_DEBIAN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/make_wxs.py
    ${msi_dir}/registration.txt ${ocx_windows} ${WENDRIX_PACKAGE_ARCH} ${PROJECT_VERSION}
    ${WENDRIX_VENDOR_WXS} ${msi_dir}/registration.wxs
  DEPENDS ${msi_dir}/registration.txt ${CMAKE_CURRENT_LIST_DIR}/make_wxs.py
  COMMENT "The registration as WiX source"
  VERBATIM)
add_custom_target(wendrix_registration_wxs ALL DEPENDS ${WENDRIX_VENDOR_WXS})
# For vendors' own installers, in the release zip.
install(FILES ${WENDRIX_VENDOR_WXS} DESTINATION redist)

find_program(WENDRIX_WIXL wixl)
find_program(WENDRIX_MSIBUILD msibuild)
if(WENDRIX_WIXL AND WENDRIX_MSIBUILD)
  set(msi_file ${PROJECT_BINARY_DIR}/Wendrix-${PROJECT_VERSION}-${WENDRIX_PACKAGE_ARCH}.msi)
  # The installer holds what the zip holds: the tree `cmake --install` lays out.
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${msi_dir}/stage
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${msi_dir}/stage
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/make-msi.sh ${WENDRIX_PACKAGE_ARCH} ${PROJECT_VERSION}
      ${msi_dir} ${msi_file}
    BYPRODUCTS ${msi_file}
    COMMENT "Wendrix-${PROJECT_VERSION}-${WENDRIX_PACKAGE_ARCH}.msi"
    VERBATIM)
  add_dependencies(msi wendrix_registration_wxs wendrix_ocx wendrix_host wendrix_record_sample
    wendrix_guide_html)
else()
  message(STATUS "wixl or msibuild not found: no target msi (scripts/bootstrap installs them)")
endif()
