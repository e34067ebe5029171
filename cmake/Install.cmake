# Install rules and the Debian package (scripts/package.sh builds it).
#
# An installed copy finds its default map list in the installed data folder,
# <prefix>/share/velth-control-center, from its own folder <prefix>/bin; its
# users' files go to their data folders (app/ProgramFolder.h).
include(GNUInstallDirs)

set(VELTH_APP_ID org.velth.ControlCenter)
set(VELTH_DATA_DIR ${CMAKE_INSTALL_DATADIR}/velth-control-center)
file(RELATIVE_PATH VELTH_DATA_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${VELTH_DATA_DIR})
set_property(SOURCE app/ProgramFolder.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS VELTH_DATA_FROM_BIN="${VELTH_DATA_FROM_BIN}")

install(TARGETS velth-control-center velth-logscan velth-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/mapcycle.txt DESTINATION ${VELTH_DATA_DIR})
install(FILES resources/desktop/${VELTH_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/desktop/${VELTH_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY resources/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Debian ships manual pages compressed.
set(VELTH_MAN_PAGES)
foreach(page velth-logscan.1 velth-server.1)
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/resources/desktop/${page} > ${compressed}
        DEPENDS resources/desktop/${page}
        VERBATIM)
    list(APPEND VELTH_MAN_PAGES ${compressed})
endforeach()
add_custom_target(velth-man-page ALL DEPENDS ${VELTH_MAN_PAGES})
install(FILES ${VELTH_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velth-control-center)
set(CPACK_PACKAGE_VENDOR Velth)
set(CPACK_PACKAGE_CONTACT "Velth <feedback@velth.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "administer Counter-Strike (HLDS) game servers over FTP")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velth Control Center keeps a list of FTP accounts of Counter-Strike (HLDS)
game servers and, from one window, fetches and scans their logs (chats,
kills, round wins, server variables), composes and uploads server.cfg,
and edits users.ini and the map cycle. velth-logscan prints a log's scan
as JSON; velth-server queries game servers and runs commands on their
remote console, for scripts and monitoring.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vcc.velth.org)
# The library dependencies come from dpkg-shlibdeps; the links of the top
# bar fit best in Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
include(CPack)
