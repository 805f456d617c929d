# Installation layout and the Debian package (cpack -G DEB, or the target "deb").
#
#   /usr/bin/tovrak-upgrade                    launcher: prepares the user's folder, starts the program there
#   /usr/bin/tovrak-cli                        link to the command line tool
#   /usr/bin/ksftool                           firmware file tool
#   /usr/lib/tovrak-upgrade/                   TovrakUpgrade and tovrak-cli (their "program folder": firmware
#                                              files put here are found by every user)
#   /usr/share/tovrak-upgrade/translations.csv the texts; linked into each user's folder by the launcher
#   /usr/share/applications/tovrak-upgrade.desktop, /usr/share/icons/hicolor/128x128/apps/tovrak-upgrade.png
#   /usr/lib/udev/rules.d/70-tovrak.rules      access for the user at the seat, for the configured USB ids
if(NOT (UNIX AND NOT APPLE))
    return()
endif()

set(TOVRAK_PKG_LIBDIR "lib/tovrak-upgrade")
set(TOVRAK_PKG_SHAREDIR "share/tovrak-upgrade")
set(TOVRAK_PKG_PREFIX "/usr")

install(TARGETS TovrakUpgrade tovrak-cli RUNTIME DESTINATION ${TOVRAK_PKG_LIBDIR})
install(TARGETS ksftool RUNTIME DESTINATION bin)

# The launcher names the installed places, which depend on the package prefix.
set(TOVRAK_LAUNCH_LIBDIR "${TOVRAK_PKG_PREFIX}/${TOVRAK_PKG_LIBDIR}")
set(TOVRAK_LAUNCH_SHAREDIR "${TOVRAK_PKG_PREFIX}/${TOVRAK_PKG_SHAREDIR}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/tovrak-upgrade.in ${CMAKE_BINARY_DIR}/packaging/tovrak-upgrade @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/tovrak-upgrade DESTINATION bin)

# tovrak-cli runs in the caller's folder; the link lets it find its program folder (and the
# texts beside it in share/) through the real path of its executable.
file(CREATE_LINK ../${TOVRAK_PKG_LIBDIR}/tovrak-cli ${CMAKE_BINARY_DIR}/packaging/tovrak-cli SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/tovrak-cli DESTINATION bin)

install(FILES ${PROJECT_SOURCE_DIR}/resources/translations.csv DESTINATION ${TOVRAK_PKG_SHAREDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tovrak-upgrade.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/images/image01.png
        DESTINATION share/icons/hicolor/128x128/apps RENAME tovrak-upgrade.png)
install(FILES ${CMAKE_BINARY_DIR}/udev/70-tovrak.rules DESTINATION lib/udev/rules.d)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/tovrak-upgrade)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tovrak-upgrade")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${TOVRAK_PKG_PREFIX}")
set(CPACK_PACKAGE_CONTACT "TovrakUpgrade maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade utility for Tovrak USB video capture devices")
set(CPACK_PACKAGE_DESCRIPTION "Lists the attached Tovrak capture devices with their installed and available firmware and upgrades them in parallel: a window (tovrak-upgrade), a command line tool for scripts and production lines (tovrak-cli) and a firmware file tool (ksftool).")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The X11 libraries are loaded at run time (not seen by shlibdeps); a font to draw with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libx11-6, libxext6, libxinerama1, libxrandr2, libxcursor1, libxrender1, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
include(CPack)

add_custom_target(deb
    COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS TovrakUpgrade tovrak-cli ksftool
    COMMENT "Building the Debian package into ${CMAKE_BINARY_DIR}/packages"
    USES_TERMINAL)
