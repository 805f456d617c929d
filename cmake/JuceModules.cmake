# The JUCE modules the program needs, compiled once into one static library that the program,
# the tools and the tests link.
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/WindowsJuce.cmake)
else()
    find_package(JUCE 7.0.5 CONFIG REQUIRED)
    find_package(ZLIB REQUIRED)
    # Debian's JUCE uses the system's image libraries.
    set(TOVRAK_JUCE_IMAGE_LIBS juce::pkgconfig_JUCE_IMG_LINUX_DEPS ZLIB::ZLIB)
endif()

add_library(tovrak_juce STATIC)
target_link_libraries(tovrak_juce
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
    PUBLIC
        juce::juce_recommended_config_flags
        ${TOVRAK_JUCE_IMAGE_LIBS})
target_compile_definitions(tovrak_juce PUBLIC
    JUCE_STANDALONE_APPLICATION=1
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    # Debug builds would otherwise write "JUCE v7..." to standard error at start, before
    # anything the programs say there.
    JUCE_DISABLE_JUCE_VERSION_PRINTING=1
    JUCE_SILENCE_XCODE_15_LINKER_WARNING=1
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1)
target_include_directories(tovrak_juce SYSTEM INTERFACE $<TARGET_PROPERTY:tovrak_juce,INCLUDE_DIRECTORIES>)
target_compile_definitions(tovrak_juce INTERFACE $<TARGET_PROPERTY:tovrak_juce,COMPILE_DEFINITIONS>)
find_package(Threads REQUIRED)
target_link_libraries(tovrak_juce PUBLIC Threads::Threads ${CMAKE_DL_LIBS})
