# What the release zips ship for C and C++ (and MIDL) users in include/: Wendrix.idl, the
# library's source with the platform's own "ocidl.idl" imported in place of the build's
# stand-in, and Wendrix.h, generated from it by widl (the dual interface, the event interface,
# the enumerations and the GUIDs as named constants). widl here has no platform IDL files: a
# one-line ocidl.idl forwards to the stand-in, and the header includes the real <ocidl.h>.
# Included from resources/CMakeLists.txt (Windows builds), which finds widl.
set(public_dir ${PROJECT_BINARY_DIR}/include)
set(shim_dir ${CMAKE_CURRENT_BINARY_DIR}/public-shim)
file(WRITE ${shim_dir}/ocidl.idl "import \"automation_base.idl\";\n")
add_custom_command(
  OUTPUT ${public_dir}/Wendrix.idl ${public_dir}/Wendrix.h
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_CURRENT_SOURCE_DIR}/Wendrix.idl
    -DOUT=${public_dir}/Wendrix.idl -P ${PROJECT_SOURCE_DIR}/packaging/public_idl.cmake
  COMMAND ${CMAKE_COMMAND} -E chdir ${public_dir}
    ${WENDRIX_WIDL} ${WENDRIX_WIDL_TARGET} -I${shim_dir} -I${CMAKE_CURRENT_SOURCE_DIR}
    -h -o Wendrix.h Wendrix.idl
  DEPENDS Wendrix.idl automation_base.idl ${PROJECT_SOURCE_DIR}/packaging/public_idl.cmake
  COMMENT "widl include/Wendrix.h")
add_custom_target(wendrix_public_header DEPENDS ${public_dir}/Wendrix.idl ${public_dir}/Wendrix.h)
set(WENDRIX_PUBLIC_INCLUDE_DIR ${public_dir} PARENT_SCOPE)
