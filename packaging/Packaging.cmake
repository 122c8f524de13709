# Desktop integration files and the Debian package, included from the top-level CMakeLists.txt.

set(ZENTREL_APP_ID "org.zentrel.ZentrelVPN")

if(UNIX AND NOT APPLE)
    install(FILES "${CMAKE_SOURCE_DIR}/resources/${ZENTREL_APP_ID}.desktop"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
    install(FILES "${CMAKE_SOURCE_DIR}/resources/zentrel-vpn.svg"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
    install(FILES "${CMAKE_SOURCE_DIR}/resources/${ZENTREL_APP_ID}.metainfo.xml"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
endif()

set(CPACK_PACKAGE_NAME "zentrel-vpn")
set(CPACK_PACKAGE_VENDOR "Zentrel")
set(CPACK_PACKAGE_CONTACT "Zentrel VPN maintainers <vpn@zentrel.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://zentrel.org/vpn")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop traffic through an SSH tunnel, from the system tray")
# Lines kept under 80 columns, as Debian's control file wants them.
set(CPACK_PACKAGE_DESCRIPTION
    "Zentrel VPN sits in the system tray and, with one click, starts OpenSSH with\n"
    "dynamic forwarding (a SOCKS proxy on the local machine) and points the\n"
    "desktop's SOCKS proxy at it. Disconnect stops ssh and switches the proxy back\n"
    "off. All it needs is an account on an SSH server that accepts key login.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/")

if(UNIX AND NOT APPLE)
    set(CPACK_GENERATOR "DEB")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: programs run through PATH, Qt plugins loaded at run time
# (xcb platform, SVG icon engine) and GIO, which the helper dlopens for GSettings.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "openssh-client, qt6-qpa-plugins, libqt6svg6, libglib2.0-0")
# GNOME's proxy keys and a GSettings backend that persists them; KDE sessions use kwriteconfig.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gsettings-desktop-schemas, dconf-gsettings-backend | gsettings-backend")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libkf5config-bin")

# --- Tray icons and translations ----------------------------------------------------------------
if(UNIX AND NOT APPLE)
    # Panels that load the tray icon by name (GNOME's AppIndicator extension, Plasma) recolour
    # -symbolic icons in their own text colour.
    install(FILES "${CMAKE_SOURCE_DIR}/resources/vpn.svg"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status"
            RENAME "zentrel-vpn-symbolic.svg")
    install(FILES "${CMAKE_SOURCE_DIR}/resources/vpn-disconnected.svg"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status"
            RENAME "zentrel-vpn-disconnected-symbolic.svg")
endif()
# Qt's own texts (dialog buttons, the fields' context menus) in the languages we translate to.
string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", qt6-translations-l10n")
# -------------------------------------------------------------------------------------------------

include(CPack)
