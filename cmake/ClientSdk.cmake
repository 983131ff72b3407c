# The client library, built once from src/client and used three ways:
#   lyrlink_client         static (liblyrlink-client.a): lyrlinkctl, lyrlinksim and the tests link
#                          it in the tree, and it is installed for applications that link statically;
#   lyrlink_client_shared  shared (liblyrlink-client.so.1 -> 1.0.0) for applications.
# Only the C interface of lyrlink/client.h is exported: everything else is compiled with hidden
# visibility. Installs the libraries, the header, lyrlink-client.pc and the LyrLinkClient CMake
# package (imported targets LyrLinkClient::lyrlink-client and LyrLinkClient::lyrlink-client-static)
# in the components "runtime" (shared library, documents) and "dev" (everything to build against).
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LYRLINK_CLIENT_VERSION 1.0.0)
set(LYRLINK_CLIENT_SOVERSION 1)
set(LYRLINK_INSTALLED_MANAGER "${CMAKE_INSTALL_FULL_BINDIR}/LyrLinkSysMgr$<$<BOOL:${WIN32}>:.exe>")

file(GLOB LYRLINK_CLIENT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/client/*.cpp
     ${CMAKE_SOURCE_DIR}/src/client/native/*_${LYRLINK_NATIVE_SYSTEM}.cpp)

add_library(lyrlink_client_objects OBJECT ${LYRLINK_CLIENT_SOURCES})
target_include_directories(lyrlink_client_objects PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src> $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src/client/include>)
target_compile_definitions(lyrlink_client_objects PRIVATE LYRLINK_CLIENT_BUILD
    LYRLINK_DEFAULT_MANAGER_PATH="${LYRLINK_INSTALLED_MANAGER}")
target_link_libraries(lyrlink_client_objects PUBLIC Threads::Threads PRIVATE nlohmann_json::nlohmann_json)
if(WIN32)
    target_link_libraries(lyrlink_client_objects PUBLIC ws2_32)
endif()
target_compile_options(lyrlink_client_objects PRIVATE ${LYRLINK_WARNINGS})
set_target_properties(lyrlink_client_objects PROPERTIES
    POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

set(LYRLINK_CLIENT_HEADERS ${CMAKE_SOURCE_DIR}/src/client/include/lyrlink/client.h)

add_library(lyrlink_client STATIC $<TARGET_OBJECTS:lyrlink_client_objects>)
target_include_directories(lyrlink_client PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src> $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src/client/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# A C program linking the static library needs the C++ runtime the library is written against.
target_link_libraries(lyrlink_client PUBLIC Threads::Threads $<INSTALL_INTERFACE:stdc++>)
target_compile_definitions(lyrlink_client INTERFACE LYRLINK_CLIENT_STATIC)
set_target_properties(lyrlink_client PROPERTIES OUTPUT_NAME lyrlink-client EXPORT_NAME lyrlink-client-static)

# The Windows programs link the static library in the tree; the shared library, the example and
# the installed SDK are built for Linux, where applications pick them up with pkg-config or CMake.
if(WIN32)
    return()
endif()

add_library(lyrlink_client_shared SHARED $<TARGET_OBJECTS:lyrlink_client_objects>)
target_include_directories(lyrlink_client_shared PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src/client/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(lyrlink_client_shared PRIVATE Threads::Threads)
set_target_properties(lyrlink_client_shared PROPERTIES
    OUTPUT_NAME lyrlink-client EXPORT_NAME lyrlink-client
    VERSION ${LYRLINK_CLIENT_VERSION} SOVERSION ${LYRLINK_CLIENT_SOVERSION}
    LINKER_LANGUAGE CXX)
if(NOT WIN32 AND NOT APPLE)
    # No unresolved symbol may be left for the application to supply, and the version script
    # keeps what hidden visibility cannot reach (template statics of the C++ library) local.
    target_link_options(lyrlink_client_shared PRIVATE -Wl,--no-undefined
        -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/sdk/lyrlink-client.map)
    set_property(TARGET lyrlink_client_shared APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/sdk/lyrlink-client.map)
endif()

install(TARGETS lyrlink_client_shared EXPORT LyrLinkClientTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(TARGETS lyrlink_client EXPORT LyrLinkClientTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${LYRLINK_CLIENT_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lyrlink COMPONENT dev)

set(LYRLINK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/LyrLinkClient)
install(EXPORT LyrLinkClientTargets NAMESPACE LyrLinkClient:: FILE LyrLinkClientTargets.cmake
    DESTINATION ${LYRLINK_CMAKE_PACKAGE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/sdk/LyrLinkClientConfig.cmake.in
    ${CMAKE_BINARY_DIR}/sdk/LyrLinkClientConfig.cmake INSTALL_DESTINATION ${LYRLINK_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/sdk/LyrLinkClientConfigVersion.cmake
    VERSION ${LYRLINK_CLIENT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/sdk/LyrLinkClientConfig.cmake ${CMAKE_BINARY_DIR}/sdk/LyrLinkClientConfigVersion.cmake
    DESTINATION ${LYRLINK_CMAKE_PACKAGE_DIR} COMPONENT dev)

# pkg-config: relative to its own place, so that the tree can be moved (a staging root, a package).
file(RELATIVE_PATH LYRLINK_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" LYRLINK_PC_TO_PREFIX "${LYRLINK_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/sdk/lyrlink-client.pc.in ${CMAKE_BINARY_DIR}/sdk/lyrlink-client.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/sdk/lyrlink-client.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)


# The example application, built in the tree against the shared library as an application would.
add_executable(lyrlink-monitor ${CMAKE_SOURCE_DIR}/examples/lyrlink-monitor.c)
target_link_libraries(lyrlink-monitor PRIVATE lyrlink_client_shared)
set_target_properties(lyrlink-monitor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/examples)

# What an application built outside the tree needs to link this build's libraries: the
# sanitizer runtime when the tree is built with one (the SDK tests pass it to cc and CMake).
set(LYRLINK_SDK_CONSUMER_FLAGS "")
if(LYRLINK_SANITIZE)
    set(LYRLINK_SDK_CONSUMER_FLAGS "-fsanitize=address,undefined")
elseif(LYRLINK_TSAN)
    set(LYRLINK_SDK_CONSUMER_FLAGS "-fsanitize=thread")
endif()
