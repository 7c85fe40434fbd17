# Sanitizer builds. ORVEX_SANITIZE=address instruments everything with AddressSanitizer (leak
# checking included) and UndefinedBehaviorSanitizer; ORVEX_SANITIZE=thread with ThreadSanitizer.
# Any report is fatal (-fno-sanitize-recover), so a test that trips a sanitizer fails. The flags
# are tried on a small program first: a toolchain without the sanitizer runtime stops the
# configuration with a clear message instead of failing at the first link.
#
# ORVEX_BUILD_FUZZERS adds libFuzzer's coverage instrumentation (clang only) to everything, so the
# fuzzers of fuzz/ steer by the code under test and not only by their own.
include(CheckCXXSourceCompiles)

# Stops the configuration unless `source` builds and links with the list `flags`.
function(orvex_check_flags what source)
  set(flags ${ARGN})
  string(REPLACE ";" " " CMAKE_REQUIRED_FLAGS "${flags}")
  set(CMAKE_REQUIRED_LINK_OPTIONS ${flags})
  string(MAKE_C_IDENTIFIER "ORVEX_FLAGS_WORK_${CMAKE_REQUIRED_FLAGS}" result)
  check_cxx_source_compiles("${source}" ${result})
  if(NOT ${result})
    message(FATAL_ERROR "${what}: the compiler ${CMAKE_CXX_COMPILER} cannot build and link with "
      "'${CMAKE_REQUIRED_FLAGS}'. Install its sanitizer runtime (libasan/libubsan/libtsan for "
      "GCC, libclang-rt-14-dev for clang) or configure without it.")
  endif()
endfunction()

set(ORVEX_SANITIZER_FLAGS "")
if(ORVEX_SANITIZE STREQUAL "address")
  set(ORVEX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang flags RapidJSON 1.1.0's internal stack (null pointer plus offset, in a system header).
    # Recoverable only so that scripts/sanitizers/ubsan.supp can name that one frame; the scripts
    # run with halt_on_error=1, which keeps every other report fatal.
    list(APPEND ORVEX_SANITIZER_FLAGS -fsanitize-recover=pointer-overflow)
  endif()
elseif(ORVEX_SANITIZE STREQUAL "thread")
  set(ORVEX_SANITIZER_FLAGS -fsanitize=thread)
elseif(NOT ORVEX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORVEX_SANITIZE must be empty, 'address' or 'thread', not '${ORVEX_SANITIZE}'")
endif()

if(ORVEX_SANITIZER_FLAGS)
  orvex_check_flags("ORVEX_SANITIZE=${ORVEX_SANITIZE}"
    "#include <string>\nint main(int argc, char**) { return static_cast<int>(std::string(\"x\").size()) - argc; }"
    ${ORVEX_SANITIZER_FLAGS})
  add_compile_options(${ORVEX_SANITIZER_FLAGS} -fno-omit-frame-pointer)
  add_link_options(${ORVEX_SANITIZER_FLAGS})
  message(STATUS "Sanitizers: ${ORVEX_SANITIZER_FLAGS}")
endif()

if(ORVEX_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORVEX_BUILD_FUZZERS needs clang (libFuzzer): configure with "
      "-DCMAKE_CXX_COMPILER=clang++")
  endif()
  orvex_check_flags("ORVEX_BUILD_FUZZERS"
    "#include <cstddef>\n#include <cstdint>\nextern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }"
    -fsanitize=fuzzer)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
