# Steps of the consumer tests, run with cmake -P. STEP is one of:
#   install       installs BUILD_TREE into PREFIX (emptied first);
#   find_package  configures, builds and runs PROJECT with CMake;
#   pkg_config    compiles PROJECT/main.cpp with the flags pkg-config gives.
cmake_minimum_required(VERSION 3.20)

function(run)
  string(REPLACE ";" " " command "${ARGN}")
  message(STATUS "${command}")
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${command}")
  endif()
endfunction()

# An instrumented build installs instrumented libraries.
set(sanitize_flags "")
if(SANITIZE)
  set(sanitize_flags -fsanitize=address,undefined)
endif()

set(dir ${WORK}/${STEP})
if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${PREFIX})
  run(${CMAKE_COMMAND} --install ${BUILD_TREE} --prefix ${PREFIX})
  foreach(file
      ${LIBDIR}/libdral-tovri-bindings.so
      ${LIBDIR}/libtovri-core.so.2
      ${LIBDIR}/libtovri-std-bindings.so.2
      ${LIBDIR}/libtovri-http.so.2
      ${LIBDIR}/pkgconfig/tovri-http.pc
      include/tovri/http/lossless_json.hpp
      ${LIBDIR}/cmake/DralTovriBindings/DralTovriBindingsConfig.cmake
      ${LIBDIR}/cmake/DralTovriBindings/DralTovriBindingsConfigVersion.cmake
      ${LIBDIR}/pkgconfig/dral-tovri-bindings.pc
      include/dral/tovri_bindings.hpp)
    if(NOT EXISTS ${PREFIX}/${file})
      message(FATAL_ERROR "not installed: ${file}")
    endif()
  endforeach()

elseif(STEP STREQUAL "find_package")
  file(REMOVE_RECURSE ${dir})
  string(REPLACE ";" " " flags "${sanitize_flags}")
  run(${CMAKE_COMMAND} -S ${PROJECT} -B ${dir} -G ${GENERATOR}
      -DCMAKE_CXX_COMPILER=${CXX}
      -DCMAKE_PREFIX_PATH=${PREFIX}
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
      "-DCMAKE_CXX_FLAGS=${flags}")
  run(${CMAKE_COMMAND} --build ${dir})
  # No LD_LIBRARY_PATH: the RPATH CMake records must find the libraries.
  run(${dir}/consumer)

elseif(STEP STREQUAL "pkg_config")
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  find_program(PKG_CONFIG pkg-config REQUIRED)
  set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs dral-tovri-bindings tovri-http
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know dral-tovri-bindings")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} -std=c++17 ${sanitize_flags} ${PROJECT}/main.cpp ${flags} -o ${dir}/consumer)
  set(ENV{LD_LIBRARY_PATH} ${PREFIX}/${LIBDIR})
  run(${dir}/consumer)

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
