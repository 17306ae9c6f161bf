# Code generated from catalogues.
#
# dral_generate(<target> CATALOGUE <dir> [NAMESPACE <ns>] [INCLUDE_ROOT <path>]
#               [OUTPUT <dir>] [CHECK_HEADERS])
#
# Compiles every *.toml under CATALOGUE (subfolders included) into <target>:
# generator/generate.py writes the units into OUTPUT (default
# <current binary dir>/<target>_generated), headers under
# OUTPUT/include/<INCLUDE_ROOT>/ and sources under OUTPUT/src/. NAMESPACE
# and INCLUDE_ROOT default to the package's. An existing <target> gets the
# sources added (the package joins dral_tovri_bindings); otherwise <target>
# is made a static library on top of the runtime, client and provider.
# CHECK_HEADERS registers the headers for the self-containment check, for
# public headers only.
#
# The list of generated files comes from the catalogue (the generator's
# --list-outputs, at configure time): configure runs again when a catalogue
# or generator file changes or appears, and the build regenerates when any of
# them changes. Unchanged outputs keep their time stamps, so only the units
# whose text changed are recompiled.
find_package(Python3 3.11 REQUIRED COMPONENTS Interpreter)
get_filename_component(DRAL_GENERATOR_DIR ${CMAKE_CURRENT_LIST_DIR}/../generator ABSOLUTE)

function(dral_generate target)
  cmake_parse_arguments(G "CHECK_HEADERS" "CATALOGUE;NAMESPACE;INCLUDE_ROOT;OUTPUT" "" ${ARGN})
  if(NOT G_CATALOGUE OR G_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "dral_generate(${target}): CATALOGUE <dir> is required; unknown: ${G_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT G_OUTPUT)
    set(G_OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}_generated)
  endif()
  set(generate ${Python3_EXECUTABLE} ${DRAL_GENERATOR_DIR}/generate.py --catalogue ${G_CATALOGUE})
  if(G_NAMESPACE)
    list(APPEND generate --namespace ${G_NAMESPACE})
  endif()
  if(G_INCLUDE_ROOT)
    list(APPEND generate --include-root ${G_INCLUDE_ROOT})
  endif()

  file(GLOB_RECURSE catalogue_files CONFIGURE_DEPENDS ${G_CATALOGUE}/*.toml)
  file(GLOB_RECURSE generator_files CONFIGURE_DEPENDS
    ${DRAL_GENERATOR_DIR}/*.py ${DRAL_GENERATOR_DIR}/templates/*.tpl)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${catalogue_files} ${generator_files})

  execute_process(
    COMMAND ${generate} --list-outputs
    OUTPUT_VARIABLE listed
    ERROR_VARIABLE generator_error
    RESULT_VARIABLE generator_status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT generator_status EQUAL 0)
    message(FATAL_ERROR "generator refused ${G_CATALOGUE}:\n${generator_error}")
  endif()
  string(REPLACE "\n" ";" listed "${listed}")
  set(files)
  set(sources)
  set(headers)
  foreach(path IN LISTS listed)
    list(APPEND files ${G_OUTPUT}/${path})
    if(path MATCHES "^include/(.*)$")
      list(APPEND headers ${CMAKE_MATCH_1})
    else()
      list(APPEND sources ${G_OUTPUT}/${path})
    endif()
  endforeach()

  file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${G_CATALOGUE})
  add_custom_command(
    OUTPUT ${files}
    COMMAND ${generate} --output ${G_OUTPUT}
    DEPENDS ${catalogue_files} ${generator_files}
    COMMENT "Generating ${target} from ${shown}"
    VERBATIM)
  # The command belongs to a target of the calling directory; a library
  # defined elsewhere (the package's) compiles the sources after it.
  add_custom_target(${target}_sources DEPENDS ${files})
  if(NOT TARGET ${target})
    add_library(${target} STATIC)
    target_link_libraries(${target} PUBLIC Dral::tovri_bindings)
  endif()
  add_dependencies(${target} ${target}_sources)
  target_sources(${target} PRIVATE ${sources})
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${G_OUTPUT}/include>)
  if(G_CHECK_HEADERS)
    dral_add_generated_headers(${headers})
  endif()
endfunction()

# Registers generated public headers (paths relative to
# DRAL_GENERATED_INCLUDE_DIR) for the self-containment check, which compiles
# each alone after dral_tovri_bindings is built. The umbrella check needs no
# registration: it reads the directory after the build.
function(dral_add_generated_headers)
  set_property(GLOBAL APPEND PROPERTY DRAL_GENERATED_HEADERS ${ARGN})
endfunction()
