# Whole-build sanitizers (selected by the asan / tsan presets).
if(TOVRAK_SANITIZE)
    add_compile_options(-fsanitize=${TOVRAK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${TOVRAK_SANITIZE})
endif()
if(TOVRAK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "TOVRAK_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang (or the 'fuzz' preset)")
    endif()
    # Everything is instrumented for coverage; only the fuzz targets link the libFuzzer main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Our own code builds with warnings on (JUCE's sources are compiled without them).
add_library(tovrak_warnings INTERFACE)
target_compile_options(tovrak_warnings INTERFACE -Wall -Wextra)
