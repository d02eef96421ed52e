# Every build option of the project, in one place.
option(QM_BUILD_TESTS "Build the GoogleTest suites" ON)
option(QM_BUILD_BENCHMARKS "Build the Google Benchmark programs" ON)
option(QM_ASAN "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# Off for a plain configure (another compiler may warn where GCC 12 does not); the release preset,
# which CI builds, turns it on so that a new warning fails the build instead of scrolling past.
option(QM_WERROR "Treat compiler warnings in our own targets as errors" OFF)
option(QM_FUZZ "Build the libFuzzer targets of fuzz/ (clang only), everything instrumented" OFF)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

# Warnings apply to our own targets only (qm_target_defaults), never to system headers.
function(qm_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(QM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(QM_ASAN)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(QM_FUZZ)
    # Coverage for the fuzzer and both sanitizers; undefined behaviour stops the run like a crash.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                           -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# The OS selection point: one implementation folder of the ports per platform.
if(WIN32)
  set(QM_PLATFORM win32)
else()
  set(QM_PLATFORM linux)
endif()
