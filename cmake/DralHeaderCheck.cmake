# Two checks over the public headers, registered as tests:
#  - headers.self_contained compiles every public header alone (twice in one
#    unit, so a missing include guard fails too) with -Werror, since a
#    warning in a public header lands in every user's build;
#  - headers.umbrella checks that include/dral/tovri_bindings.hpp includes
#    every public header, including the generated ones.
# The compile check builds an EXCLUDE_FROM_ALL target, so a faulty header
# fails one test instead of the whole build.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(dral_add_header_checks)
  set(headers)
  foreach(root IN LISTS DRAL_PUBLIC_INCLUDE_ROOTS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS RELATIVE ${root} ${root}/*.hpp ${root}/*.h)
    list(APPEND headers ${found})
  endforeach()
  get_property(generated GLOBAL PROPERTY DRAL_GENERATED_HEADERS)
  list(APPEND headers ${generated})
  list(REMOVE_DUPLICATES headers)

  set(units)
  foreach(header IN LISTS headers)
    set(unit ${CMAKE_CURRENT_BINARY_DIR}/header_check/${header}.cpp)
    file(CONFIGURE OUTPUT ${unit} CONTENT "#include <${header}>\n#include <${header}>\n")
    list(APPEND units ${unit})
  endforeach()
  add_library(dral_header_check OBJECT ${units})
  set_target_properties(dral_header_check PROPERTIES EXCLUDE_FROM_ALL ON)
  target_link_libraries(dral_header_check PRIVATE Dral::tovri_bindings)
  # The generated headers must exist before they are compiled alone.
  add_dependencies(dral_header_check dral_tovri_bindings)
  target_compile_options(dral_header_check PRIVATE -Werror)

  cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
  add_test(NAME headers.self_contained
           COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target dral_header_check --parallel ${jobs})
  # Building in the tree may re-run CMake, which must not overlap the install.
  set_tests_properties(headers.self_contained PROPERTIES
    LABELS headers RESOURCE_LOCK dral_build_tree TIMEOUT 1800)

  set(root_args)
  foreach(root IN LISTS DRAL_PUBLIC_INCLUDE_ROOTS)
    list(APPEND root_args --root ${root})
  endforeach()
  add_test(NAME headers.umbrella
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/check_umbrella.py
                   --umbrella ${PROJECT_SOURCE_DIR}/include/dral/tovri_bindings.hpp
                   ${root_args} --generated-root ${DRAL_GENERATED_INCLUDE_DIR})
  set_tests_properties(headers.umbrella PROPERTIES LABELS headers)
endfunction()
