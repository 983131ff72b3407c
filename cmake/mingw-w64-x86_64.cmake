# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain, POSIX-threads variant
# (package g++-mingw-w64-x86-64-posix): its libstdc++ has std::thread, std::mutex and
# std::condition_variable, which the win32-threads variant lacks.
#
# Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LYRLINK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LYRLINK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LYRLINK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LYRLINK_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${LYRLINK_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${LYRLINK_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers come from the MinGW sysroot and from the folders named in
# CMAKE_PREFIX_PATH (the cross-built dependencies), never from the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${LYRLINK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# JUCE's larger translation units (juce_gui_basics above all) exceed the 32767 sections of the
# default COFF object format.
set(CMAKE_C_FLAGS_INIT "-Wa,-mbig-obj")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-mbig-obj")

# The runtime libraries are linked in, so that an .exe runs (under Wine as on Windows) without
# libgcc_s, libstdc++ or libwinpthread DLLs next to it. -static also makes the linker prefer
# the .a of winpthread over its import library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Programs built here that CMake runs (tests, gtest_discover_tests) start under Wine, headless,
# in the build folder's prefix.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
    get_filename_component(_lyrlink_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" ABSOLUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${_lyrlink_wine_run}")
endif()
