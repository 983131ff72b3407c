# What `cmake --install` puts under the prefix for the user (COMPONENT runtime): the three
# programs in bin/, their man pages in share/man, the README and the documents in
# share/doc/lyrlink. The client SDK's files (COMPONENT runtime for the shared library, dev for
# the rest) are installed by cmake/ClientSdk.cmake.
include(GNUInstallDirs)

install(TARGETS LyrLinkSysMgr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
foreach(tool lyrlinkctl lyrlinksim)
    if(TARGET ${tool})
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
    endif()
endforeach()

# Man pages are installed compressed, as Debian keeps them; -n leaves the time out of the file so
# that the same page gives the same bytes.
find_program(LYRLINK_GZIP gzip REQUIRED)
file(GLOB LYRLINK_MAN_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.[1-8])
set(LYRLINK_MAN_OUTPUTS)
foreach(page ${LYRLINK_MAN_PAGES})
    get_filename_component(name ${page} NAME)
    string(REGEX REPLACE ".*\\.([1-8])$" "\\1" section ${name})
    set(compressed ${CMAKE_BINARY_DIR}/man/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${LYRLINK_GZIP} -9nc ${page} > ${compressed}
        DEPENDS ${page} VERBATIM)
    list(APPEND LYRLINK_MAN_OUTPUTS ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT runtime)
endforeach()
add_custom_target(lyrlink_man_pages ALL DEPENDS ${LYRLINK_MAN_OUTPUTS})

file(GLOB LYRLINK_DOCS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${LYRLINK_DOCS} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/lyrlink
        COMPONENT runtime)
