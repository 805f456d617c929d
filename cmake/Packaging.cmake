# Installation layout and the Debian package (cpack -G DEB, or the target "deb").
#
#   /usr/bin/tovrak-upgrade                    launcher: prepares the user's folder, starts the program there
#   /usr/bin/tovrak-cli                        link to the command line tool
#   /usr/bin/ksftool                           firmware file tool
#   /usr/lib/tovrak-upgrade/                   TovrakUpgrade and tovrak-cli (their "program folder": firmware
#                                              files put here are found by every user)
#   /usr/share/tovrak-upgrade/translations.csv the texts; copied into each user's folder by the launcher
#   /usr/share/applications/<app id>.desktop, /usr/share/icons/hicolor/128x128/apps/tovrak-upgrade.png
#   /usr/share/metainfo/<app id>.metainfo.xml  AppStream metadata for software centres (cmake/AppStream.cmake)
#   /usr/lib/udev/rules.d/70-tovrak.rules      access for the user at the seat, for the configured USB ids
#   /usr/share/man/man1/                       tovrak-upgrade.1, tovrak-cli.1, ksftool.1
#   /usr/share/doc/tovrak-upgrade/             README (the user's), copyright, changelog
if(NOT (UNIX AND NOT APPLE))
    return()
endif()

set(TOVRAK_PKG_LIBDIR "lib/tovrak-upgrade")
set(TOVRAK_PKG_SHAREDIR "share/tovrak-upgrade")
set(TOVRAK_PKG_DOCDIR "share/doc/tovrak-upgrade")
set(TOVRAK_PKG_PREFIX "/usr")
set(TOVRAK_PACKAGE_MAINTAINER "TovrakUpgrade maintainers <maintainers@users.noreply.c-seed-2ebdf573.example>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
set(pkg_dir ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS TovrakUpgrade tovrak-cli RUNTIME DESTINATION ${TOVRAK_PKG_LIBDIR})
install(TARGETS ksftool RUNTIME DESTINATION bin)

# The launcher names the installed places, which depend on the package prefix.
set(TOVRAK_LAUNCH_LIBDIR "${TOVRAK_PKG_PREFIX}/${TOVRAK_PKG_LIBDIR}")
set(TOVRAK_LAUNCH_SHAREDIR "${TOVRAK_PKG_PREFIX}/${TOVRAK_PKG_SHAREDIR}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/tovrak-upgrade.in ${pkg_dir}/tovrak-upgrade @ONLY)
install(PROGRAMS ${pkg_dir}/tovrak-upgrade DESTINATION bin)

# tovrak-cli runs in the caller's folder; the link lets it find its program folder (and the
# texts beside it in share/) through the real path of its executable.
file(CREATE_LINK ../${TOVRAK_PKG_LIBDIR}/tovrak-cli ${pkg_dir}/tovrak-cli SYMBOLIC)
install(FILES ${pkg_dir}/tovrak-cli DESTINATION bin)

install(FILES ${PROJECT_SOURCE_DIR}/resources/translations.csv DESTINATION ${TOVRAK_PKG_SHAREDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/images/image01.png
        DESTINATION share/icons/hicolor/128x128/apps RENAME tovrak-upgrade.png)

# The udev rule the build writes for the configured USB ids, with a comment that fits where the
# package puts it (the build's own comment explains installing it by hand).
file(READ ${CMAKE_BINARY_DIR}/udev/70-tovrak.rules udev_rules)
string(REGEX REPLACE "^(#[^\n]*\n)+" "" udev_rules "${udev_rules}")
file(READ ${PROJECT_SOURCE_DIR}/packaging/70-tovrak.rules.head udev_head)
file(WRITE ${pkg_dir}/70-tovrak.rules "${udev_head}${udev_rules}")
install(FILES ${pkg_dir}/70-tovrak.rules DESTINATION lib/udev/rules.d)

# Manual pages and the changelog, compressed as Debian ships them (gzip -9n: no name, no time).
find_program(TOVRAK_GZIP gzip REQUIRED)
set(pkg_compressed)
foreach(page tovrak-upgrade tovrak-cli ksftool)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${page}.1 ${pkg_dir}/man/${page}.1 @ONLY)
    list(APPEND pkg_compressed man/${page}.1)
    install(FILES ${pkg_dir}/man/${page}.1.gz DESTINATION share/man/man1)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${pkg_dir}/changelog @ONLY)
# The AppStream metadata (its releases from this changelog) and the desktop file named after it.
include(${CMAKE_CURRENT_LIST_DIR}/AppStream.cmake)
list(APPEND pkg_compressed changelog)
set(pkg_compressed_outputs)
foreach(file IN LISTS pkg_compressed)
    add_custom_command(OUTPUT ${pkg_dir}/${file}.gz
        COMMAND ${TOVRAK_GZIP} -9nc ${pkg_dir}/${file} > ${pkg_dir}/${file}.gz
        DEPENDS ${pkg_dir}/${file}
        VERBATIM)
    list(APPEND pkg_compressed_outputs ${pkg_dir}/${file}.gz)
endforeach()
add_custom_target(package-files ALL DEPENDS ${pkg_compressed_outputs})
install(FILES ${pkg_dir}/changelog.gz DESTINATION ${TOVRAK_PKG_DOCDIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${pkg_dir}/copyright @ONLY)
install(FILES ${pkg_dir}/copyright DESTINATION ${TOVRAK_PKG_DOCDIR})
# The user's README (the repository's README is for developers).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README DESTINATION ${TOVRAK_PKG_DOCDIR})

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tovrak-upgrade")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${TOVRAK_PKG_PREFIX}")
set(CPACK_PACKAGE_CONTACT "${TOVRAK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOVRAK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade utility for Tovrak USB video capture devices")
# Lines of at most 80 characters, as Debian's control files want them.
# (CPack puts the summary above it as the synopsis.)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Lists the attached Tovrak capture devices with their installed and available
firmware and upgrades the selected ones in parallel, erasing, writing and
verifying each device's flash.
.
The package brings the window (tovrak-upgrade), a command line tool for
scripts and production lines (tovrak-cli), a firmware file tool (ksftool) and
a udev rule that gives the user at the seat access to the devices.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Found by installing the package into a minimal Debian 12 (scripts/test-package): the X11
# libraries are loaded at run time (shlibdeps does not see them); the window draws its texts only
# with fontconfig's configuration (/etc/fonts/fonts.conf) and a font it lists; Chinese texts need
# a font that covers Chinese.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libx11-6, libxext6, libxinerama1, libxrandr2, libxcursor1, libxrender1, fontconfig-config, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE pkg_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(pkg_arch)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${pkg_arch}")
endif()
include(CPack)

add_custom_target(deb
    COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
    COMMAND ${PROJECT_SOURCE_DIR}/packaging/finish-deb
            ${CPACK_OUTPUT_FILE_PREFIX}/${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${pkg_arch}.deb
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS TovrakUpgrade tovrak-cli ksftool package-files
    COMMENT "Building the Debian package into ${CMAKE_BINARY_DIR}/packages"
    USES_TERMINAL)
