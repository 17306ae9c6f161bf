# Installation: the four libraries, the public headers (source and
# generated), the CMake package DralTovriBindings and the pkg-config file
# dral-tovri-bindings.pc. Both package files are relocatable: they locate
# the prefix from their own position.
include(CMakePackageConfigHelpers)

set(DRAL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/DralTovriBindings
    CACHE STRING "Install directory of the CMake package files, relative to the prefix")

# Exported as Tovri::core, Tovri::std_bindings, Tovri::http and
# Dral::tovri_bindings, the names the targets already have inside this build.
set_target_properties(tovri_core PROPERTIES EXPORT_NAME core)
set_target_properties(tovri_http PROPERTIES EXPORT_NAME http)
set_target_properties(tovri_std_bindings PROPERTIES EXPORT_NAME std_bindings)
set_target_properties(dral_tovri_bindings PROPERTIES EXPORT_NAME tovri_bindings)
foreach(target tovri_core tovri_std_bindings tovri_http dral_tovri_bindings)
  target_compile_features(${target} PUBLIC cxx_std_17)
endforeach()
# The installed libraries find each other next to themselves, wherever the
# prefix is moved to.
set_target_properties(tovri_std_bindings tovri_http dral_tovri_bindings PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS tovri_core tovri_std_bindings tovri_http EXPORT TovriTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS dral_tovri_bindings EXPORT DralTovriBindingsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

foreach(root IN LISTS DRAL_PUBLIC_INCLUDE_ROOTS DRAL_HTTP_INCLUDE_ROOT DRAL_GENERATED_INCLUDE_DIR)
  install(DIRECTORY ${root}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} OPTIONAL
          FILES_MATCHING PATTERN "*.hpp" PATTERN "*.h")
endforeach()

install(EXPORT TovriTargets NAMESPACE Tovri:: DESTINATION ${DRAL_INSTALL_CMAKEDIR})
install(EXPORT DralTovriBindingsTargets NAMESPACE Dral:: DESTINATION ${DRAL_INSTALL_CMAKEDIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/DralTovriBindingsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/DralTovriBindingsConfig.cmake
  INSTALL_DESTINATION ${DRAL_INSTALL_CMAKEDIR})
# Before 1.0 a minor release may break the interface.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/DralTovriBindingsConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/DralTovriBindingsConfig.cmake
              ${PROJECT_BINARY_DIR}/DralTovriBindingsConfigVersion.cmake
        DESTINATION ${DRAL_INSTALL_CMAKEDIR})

# pkg-config: paths relative to ${pcfiledir} unless configured absolute.
set(DRAL_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
function(dral_pc_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(DRAL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH DRAL_PC_UP /prefix/${DRAL_PC_DIR} /prefix)
  string(REGEX REPLACE "/$" "" DRAL_PC_UP "${DRAL_PC_UP}")
  set(DRAL_PC_PREFIX "\${pcfiledir}/${DRAL_PC_UP}")
endif()
dral_pc_path(DRAL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
dral_pc_path(DRAL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
# Boost is header-only here and ships no .pc file: name its directory unless
# the compiler searches it anyway.
set(DRAL_PC_EXTRA_CFLAGS "")
foreach(dir IN LISTS Boost_INCLUDE_DIRS)
  if(NOT dir IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    string(APPEND DRAL_PC_EXTRA_CFLAGS " -I${dir}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/dral-tovri-bindings.pc.in
               ${PROJECT_BINARY_DIR}/dral-tovri-bindings.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dral-tovri-bindings.pc DESTINATION ${DRAL_PC_DIR})
# The transport has a file of its own: the bindings do not need it.
configure_file(${CMAKE_CURRENT_LIST_DIR}/tovri-http.pc.in ${PROJECT_BINARY_DIR}/tovri-http.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tovri-http.pc DESTINATION ${DRAL_PC_DIR})
