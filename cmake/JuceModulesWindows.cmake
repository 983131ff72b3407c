# The Windows counterpart of the juce_modules library of the Linux build: JUCE's modules compiled
# once into a static library, for the MinGW-w64 toolchain (cmake/mingw-w64-x86_64.cmake).
#
# Debian's JUCE has its bundled zlib, libpng and libjpeg removed and includes the system's
# headers instead; for Windows those are the static libraries that scripts/build-windows-deps.sh
# cross-builds into LYRLINK_WINDOWS_DEPS from Debian's own sources. GoogleTest lives there too.
#
# Defines: juce_modules (static library, carries JUCE's definitions and include folders to its
# users) and LYRLINK_WINDOWS_DEPS.
include_guard(GLOBAL)

if(NOT MINGW)
    message(FATAL_ERROR "JuceModulesWindows.cmake is for the MinGW-w64 toolchain; configure with "
                        "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake")
endif()

set(LYRLINK_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps" CACHE PATH
    "Where scripts/build-windows-deps.sh installed the cross-built libraries")
if(NOT EXISTS "${LYRLINK_WINDOWS_DEPS}/lib/libjpeg.a")
    message(FATAL_ERROR "No cross-built libraries in ${LYRLINK_WINDOWS_DEPS}; "
                        "run scripts/build-windows-deps.sh first")
endif()
# Searched like the MinGW sysroot: the toolchain file lets find_* look only in root paths.
list(APPEND CMAKE_FIND_ROOT_PATH "${LYRLINK_WINDOWS_DEPS}")
list(APPEND CMAKE_PREFIX_PATH "${LYRLINK_WINDOWS_DEPS}")

# JUCE's CMake support is the build machine's (its module sources are the same for every
# platform), so it is looked up outside the cross root.
file(GLOB _lyrlink_juce_dirs /usr/lib/*/cmake/JUCE-* /usr/lib/cmake/JUCE-*)
find_package(JUCE CONFIG REQUIRED PATHS ${_lyrlink_juce_dirs} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
find_package(Threads REQUIRED)

add_library(juce_modules STATIC)
target_link_libraries(juce_modules
    PRIVATE juce::juce_core juce::juce_events juce::juce_data_structures juce::juce_graphics
            juce::juce_gui_basics
    PUBLIC  juce::juce_recommended_config_flags PNG::PNG JPEG::JPEG ZLIB::ZLIB Threads::Threads)
target_compile_definitions(juce_modules
    PUBLIC JUCE_WEB_BROWSER=0 JUCE_USE_CURL=0 JUCE_DISPLAY_SPLASH_SCREEN=0 JUCE_REPORT_APP_USAGE=0
           JUCE_MODAL_LOOPS_PERMITTED=1 JUCE_STANDALONE_APPLICATION=1
    INTERFACE $<TARGET_PROPERTY:juce_modules,COMPILE_DEFINITIONS>)
target_include_directories(juce_modules INTERFACE $<TARGET_PROPERTY:juce_modules,INCLUDE_DIRECTORIES>)
# Debian's juce_core asks for zlib by its bare name (-lz); the cross-built one answers it.
target_link_directories(juce_modules PUBLIC "${LYRLINK_WINDOWS_DEPS}/lib")
# Searched before the libraries' own headers: see the header for why jpeglib.h needs it.
target_include_directories(juce_modules BEFORE PRIVATE ${CMAKE_CURRENT_LIST_DIR}/windows-shims)
