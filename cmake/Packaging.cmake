# The Debian packages, built with `cpack` in the build folder (`cpack -G DEB`):
#   lyrlink      the programs, the man pages, the documents and the shared client library
#                (COMPONENT runtime)
#   lyrlink-dev  the client library's headers, static library, pkg-config and CMake files
#                (COMPONENT dev), depending on lyrlink of the same version
# Each package's dependencies are computed from its binaries by dpkg-shlibdeps (dpkg-dev). The
# first line of each description is its summary.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lyrlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "LyrLink maintainers <maintainers@lyrlink.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build folder; the packages carry stripped binaries.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME lyrlink)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "link manager for DJ equipment networks
LyrLinkSysMgr takes a computer into a local network of DJ equipment and serves DJ applications
over local pipes; lyrlinkctl asks it about its link, lyrlinksim plays equipment for demos and
tests.")
set(CPACK_COMPONENTS_ALL runtime)

# The development package comes with the client SDK (cmake/ClientSdk.cmake, included before this
# file), whose install rules bring the dev component.
get_cmake_property(LYRLINK_INSTALL_COMPONENTS COMPONENTS)
if("dev" IN_LIST LYRLINK_INSTALL_COMPONENTS)
    list(APPEND CPACK_COMPONENTS_ALL dev)
    set(CPACK_DEBIAN_DEV_PACKAGE_NAME lyrlink-dev)
    set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "lyrlink (= ${PROJECT_VERSION})")
    set(CPACK_DEBIAN_DEV_DESCRIPTION "development files of the LyrLink client library
Headers, static library, pkg-config and CMake files of the client library, for applications that
talk to LyrLinkSysMgr.")
    # The shared library's shlibs file, so that packages built against it depend on lyrlink.
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
