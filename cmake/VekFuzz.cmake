# libFuzzer targets (tests/fuzz/), built with clang when VEK_FUZZ asks for them:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVEK_FUZZ=ON -DVEK_BUILD_UI=OFF \
#       -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=OFF
#   cmake --build build-fuzz --target vek_fuzz
# Every library is built with the fuzzer's coverage instrumentation, AddressSanitizer
# and UndefinedBehaviorSanitizer; any undefined behaviour ends the run as a finding.
# scripts/fuzz.sh does all of it and runs the targets.

option(VEK_FUZZ "Build the libFuzzer targets of tests/fuzz (clang only)" OFF)

if(VEK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VEK_FUZZ needs clang (CC=clang CXX=clang++); this build uses ${CMAKE_CXX_COMPILER_ID}")
    endif()
    if(VEK_SANITIZE)
        message(FATAL_ERROR "VEK_FUZZ brings its own sanitizers; leave VEK_SANITIZE off")
    endif()
    # vek_options is linked by every target, so this reaches every library.
    target_compile_options(vek_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                 -fno-sanitize-recover=all -fno-omit-frame-pointer -gline-tables-only)
    target_link_options(vek_options INTERFACE -fsanitize=address,undefined)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fuzz ${CMAKE_BINARY_DIR}/tests/fuzz)
endif()
