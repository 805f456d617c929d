# The JUCE modules for a Windows cross build (mingw-w64). JUCE's CMake package refuses a 32-bit
# target, so its module support scripts are included directly and the modules are added from the
# copy that scripts/build-windows prepares (Debian's modules with two fixes for 32-bit mingw and
# Wine). The image libraries come from TOVRAK_WINDOWS_DEPS, built as static libraries.
set(TOVRAK_JUCE_MODULES_DIR "" CACHE PATH "Folder of the (patched) JUCE modules for the Windows build")
set(TOVRAK_JUCE_CMAKE_DIR "/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5" CACHE PATH "JUCE's CMake scripts")
set(TOVRAK_JUCEAIDE "/usr/lib/x86_64-linux-gnu/juce/juceaide" CACHE FILEPATH "juceaide for the build machine")

if(NOT EXISTS "${TOVRAK_JUCE_MODULES_DIR}/juce_core/juce_core.h")
    message(FATAL_ERROR "TOVRAK_JUCE_MODULES_DIR='${TOVRAK_JUCE_MODULES_DIR}' holds no JUCE modules: build with scripts/build-windows")
endif()

# juceaide runs on the build machine (it embeds the images), so the Linux one serves.
if(NOT TARGET juce::juceaide)
    add_executable(juce::juceaide IMPORTED)
    set_target_properties(juce::juceaide PROPERTIES IMPORTED_LOCATION "${TOVRAK_JUCEAIDE}")
endif()

set(JUCE_MODULES_DIR "${TOVRAK_JUCE_MODULES_DIR}" CACHE INTERNAL "The path to JUCE modules")
include("${TOVRAK_JUCE_CMAKE_DIR}/JUCEModuleSupport.cmake")
include("${TOVRAK_JUCE_CMAKE_DIR}/JUCEUtils.cmake")
foreach(module juce_core juce_events juce_data_structures juce_graphics juce_gui_basics)
    juce_add_module("${TOVRAK_JUCE_MODULES_DIR}/${module}" ALIAS_NAMESPACE juce)
endforeach()

find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
set(TOVRAK_JUCE_IMAGE_LIBS PNG::PNG JPEG::JPEG ZLIB::ZLIB)
