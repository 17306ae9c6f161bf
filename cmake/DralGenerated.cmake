# Hook for the code generator.
#
# The generator writes into DRAL_GENERATED_DIR; its public headers go under
# DRAL_GENERATED_INCLUDE_DIR (DRAL_GENERATED_DIR/include) with their include
# path, for example include/dral/trusted_infrastructure/common.hpp. That
# directory is already an include directory of dral_tovri_bindings and is
# installed with the other public headers. Register each generated header so
# that the self-containment check compiles it on its own:
#
#   dral_add_generated_headers(dral/trusted_infrastructure/common.hpp ...)
#
# Paths are relative to DRAL_GENERATED_INCLUDE_DIR. The headers must be
# outputs of a custom command feeding dral_tovri_bindings, which the check
# depends on, so they exist before it compiles them. The umbrella check needs
# no registration: it reads the directory after the build.
function(dral_add_generated_headers)
  set_property(GLOBAL APPEND PROPERTY DRAL_GENERATED_HEADERS ${ARGN})
endfunction()
