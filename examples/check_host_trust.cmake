# Checks the host-trust example; run with cmake -P. STEP is one of:
#   run        runs PROGRAM and checks its exit status and report;
#   installed  configures and builds SOURCE in WORK against the package
#              installed in PREFIX, then runs and checks the result.
cmake_minimum_required(VERSION 3.20)

# Landmarks of the report, one per part of the walk.
set(landmarks
  "== TPMs \\(hardware\\.tpm\\)"
  "tpm0 +2\\.0 +yes"
  "23 +0000000000000000\\.\\.00000000 +0000000000000000\\.\\.00000000"
  "ek-eccp256 +ECC_NIST_P_256"
  "header +Spec ID Event03, digests SHA256 \\+ SHA384"
  "created as-0003"
  "report-0001 +REPORTING_JWT +as-0001"
  "kp-trust-authority +TRUST_AUTHORITY +no +WARNING +Trust authority"
  "key id +kek-2024-q4"
  "API client +host-01-kmip \\(Host 01 KMIP client, group hosts-eu-west\\)"
  "refused: already_exists\n +A key provider \"kp-native-01\" is already configured on this host\\."
  "refused: not_found\n +No TPM \"tpm7\" is configured on this host\\."
  "refused: invalid_argument\n +Field proxy is not declared by structure ::Com::Corvane::Morv::TrustedInfrastructure::NetworkAddress\\.\n +The input of operation ::Com::Corvane::Morv::TrustedInfrastructure::Attestation::ServicesSvc::Create is not valid\\."
  "4 of them refused as intended; every answer as expected"
  "Worker pool drained and stopped")

# Secrets the walk sends or the host holds; none may be printed.
set(secrets "q3v7N1dZr0wYx5KfB2mTgH8sLc4pUe6A" "Zt4q-8xPw-L2mV-0cRf")

function(check program)
  execute_process(COMMAND ${program} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 60)
  message("${out}${err}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "host_trust exited with ${status}")
  endif()
  foreach(landmark IN LISTS landmarks)
    if(NOT out MATCHES "${landmark}")
      message(FATAL_ERROR "the report lacks: ${landmark}")
    endif()
  endforeach()
  foreach(secret IN LISTS secrets)
    string(FIND "${out}" "${secret}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "the report prints a secret")
    endif()
  endforeach()
  if(NOT out MATCHES "calls answered in ([0-9]+)\\.[0-9] ms" OR CMAKE_MATCH_1 GREATER_EQUAL 1000)
    message(FATAL_ERROR "the walk took a second or more")
  endif()
endfunction()

if(STEP STREQUAL "run")
  check(${PROGRAM})

elseif(STEP STREQUAL "installed")
  set(flags "")
  if(SANITIZE)
    set(flags -fsanitize=address,undefined)
  endif()
  file(REMOVE_RECURSE ${WORK})
  foreach(command
      "${CMAKE_COMMAND};-S;${SOURCE};-B;${WORK};-G;${GENERATOR};-DCMAKE_CXX_COMPILER=${CXX};-DCMAKE_PREFIX_PATH=${PREFIX};-DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF;-DCMAKE_CXX_FLAGS=${flags}"
      "${CMAKE_COMMAND};--build;${WORK}")
    execute_process(COMMAND ${command} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "failed (${status}): ${command}")
    endif()
  endforeach()
  # No LD_LIBRARY_PATH: the RPATH CMake records must find the libraries.
  check(${WORK}/host_trust)

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
