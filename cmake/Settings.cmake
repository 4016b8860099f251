# Compiler settings shared by every target of the tree.
add_library(halcyra_options INTERFACE)
target_compile_options(halcyra_options INTERFACE -Wall -Wextra)
# Float results are compared sample for sample: no multiply-add fused into one rounding.
target_compile_options(halcyra_options INTERFACE -ffp-contract=off)

if(WIN32)
  set(HALCYRA_PLATFORM_WIN32 ON)
  target_compile_definitions(halcyra_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 __USE_MINGW_ANSI_STDIO=1)
  # Everything is linked statically, so the DLL and the test programs need nothing beside them.
  target_link_options(halcyra_options INTERFACE -static -static-libgcc -static-libstdc++)
  set(HALCYRA_PLUGIN_NAME halcyra_win64)
else()
  set(HALCYRA_PLATFORM_WIN32 OFF)
  set(HALCYRA_PLUGIN_NAME halcyra_linux_amd64)
endif()

if(HALCYRA_SANITIZE STREQUAL "address")
  # GCC 12 reports -Wmaybe-uninitialized inside libstdc++ (std::regex's std::function members) only
  # when the code is instrumented for ASan; the plain builds keep that warning on.
  target_compile_options(halcyra_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=all $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  target_link_options(halcyra_options INTERFACE -fsanitize=address,undefined)
elseif(HALCYRA_SANITIZE STREQUAL "thread")
  target_compile_options(halcyra_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(halcyra_options INTERFACE -fsanitize=thread)
elseif(HALCYRA_SANITIZE STREQUAL "fuzzer")
  # Everything is instrumented for libFuzzer; only the fuzz targets link its driver (fuzz/).
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HALCYRA_SANITIZE=fuzzer needs clang (cmake --preset fuzz)")
  endif()
  target_compile_options(halcyra_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(halcyra_options INTERFACE -fsanitize=address,undefined)
elseif(NOT HALCYRA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "HALCYRA_SANITIZE must be empty, address, thread or fuzzer")
endif()

# The lock annotations (src/platform/thread_annotations.h) checked by clang, every finding an error
# (the tsan preset builds this way).
option(HALCYRA_THREAD_SAFETY "Check the lock annotations with clang's -Wthread-safety, as errors" OFF)
if(HALCYRA_THREAD_SAFETY)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HALCYRA_THREAD_SAFETY needs clang (cmake --preset tsan)")
  endif()
  target_compile_options(halcyra_options INTERFACE
    -Wthread-safety -Wthread-safety-beta -Werror=thread-safety -Werror=thread-safety-beta)
endif()
