# The AppStream metadata file (packaging/tovrak-upgrade.metainfo.xml.in), filled in at configure
# time: its releases from the Debian changelog, its hardware from the configured USB ids.
# Included by Packaging.cmake after the changelog is configured; installs
# share/metainfo/<id>.metainfo.xml and names the desktop file after the same id.

set(TOVRAK_APP_ID "org.example.TovrakUpgrade" CACHE STRING
    "AppStream component id (reverse DNS of the project's domain); the desktop file is installed as <id>.desktop")
set(TOVRAK_HOMEPAGE_URL "https://tovrak-upgrade.example.org/" CACHE STRING "The project's home page")
set(TOVRAK_SCREENSHOT_URL "${TOVRAK_HOMEPAGE_URL}docs" CACHE STRING
    "Where the screenshots of docs/ (screenshot-*.png) are published, without a trailing slash")

# Debian's changelog to AppStream releases, newest first as both list them.
function(tovrak_appstream_releases changelog out)
    file(STRINGS "${changelog}" lines)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    set(xml "")
    set(items "")
    set(item "")
    set(version "")
    foreach(line IN LISTS lines)
        string(REPLACE "&" "&amp;" line "${line}")
        string(REPLACE "<" "&lt;" line "${line}")
        string(REPLACE ">" "&gt;" line "${line}")
        if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
            set(version "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^  \\* (.*)$")
            if(item)
                string(APPEND items "          <li>${item}</li>\n")
            endif()
            set(item "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^    +(.*)$" AND item)
            string(APPEND item " ${CMAKE_MATCH_1}")
        elseif(line MATCHES "^ -- .*  [A-Za-z]+, ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
            if(item)
                string(APPEND items "          <li>${item}</li>\n")
            endif()
            set(year "${CMAKE_MATCH_3}")
            set(day "${CMAKE_MATCH_1}")
            list(FIND months "${CMAKE_MATCH_2}" month)
            math(EXPR month "${month} + 1")
            if(month LESS 10)
                set(month "0${month}")
            endif()
            if(day LESS 10 AND NOT day MATCHES "^0")
                set(day "0${day}")
            endif()
            string(APPEND xml "    <release version=\"${version}\" date=\"${year}-${month}-${day}\">\n"
                              "      <description>\n        <ul>\n${items}        </ul>\n      </description>\n"
                              "    </release>\n")
            set(items "")
            set(item "")
        endif()
    endforeach()
    set(${out} "${xml}" PARENT_SCOPE)
endfunction()

tovrak_appstream_releases(${pkg_dir}/changelog TOVRAK_APPSTREAM_RELEASES)

# The devices the udev rule gives access to, as USB modaliases, so that a software centre can
# offer the package for the attached hardware.
string(TOUPPER "${KESTRANE_USB_VENDOR_ID_HEX}" kestrane_vendor)
string(TOUPPER "${PARTNER_USB_VENDOR_ID_HEX}" partner_vendor)
string(TOUPPER "${PARTNER_USB_PRODUCT_ID_HEX}" partner_product)
set(TOVRAK_APPSTREAM_MODALIASES
    "    <modalias>usb:v${kestrane_vendor}p*</modalias>\n    <modalias>usb:v${partner_vendor}p${partner_product}d*</modalias>\n")

configure_file(${PROJECT_SOURCE_DIR}/packaging/tovrak-upgrade.metainfo.xml.in
               ${pkg_dir}/${TOVRAK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${pkg_dir}/${TOVRAK_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tovrak-upgrade.desktop DESTINATION share/applications
        RENAME ${TOVRAK_APP_ID}.desktop)
