# Desktop integration files, documentation and the Debian package, included from the top-level
# CMakeLists.txt.

set(ZENTREL_APP_ID "org.zentrel.ZentrelVPN")

set(CPACK_PACKAGE_NAME "zentrel-vpn")
set(CPACK_PACKAGE_VENDOR "Zentrel")
set(CPACK_PACKAGE_CONTACT "Zentrel VPN maintainers <vpn@zentrel.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://zentrel.org/vpn")

if(UNIX AND NOT APPLE)
    set(resources "${CMAKE_SOURCE_DIR}/resources")
    install(FILES "${resources}/${ZENTREL_APP_ID}.desktop"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
    install(FILES "${resources}/${ZENTREL_APP_ID}.metainfo.xml"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

    # Autostart entries are configuration. For the prefix /usr, GNUInstallDirs puts that in
    # /etc, outside the prefix; for any other prefix it stays inside, so that
    # `cmake --install --prefix` keeps everything in one tree.
    set(ZENTREL_AUTOSTART_FULL_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart")
    if(CMAKE_INSTALL_FULL_SYSCONFDIR STREQUAL "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}")
        set(autostart_dir "${CMAKE_INSTALL_SYSCONFDIR}/xdg/autostart")
    else()
        set(autostart_dir "${ZENTREL_AUTOSTART_FULL_DIR}")
    endif()
    install(FILES "${resources}/${ZENTREL_APP_ID}.restore-proxy.desktop"
            DESTINATION "${autostart_dir}")

    # The icon: the SVG, and PNG renderings of it for the menus, docks and software centres
    # that want a bitmap at their size. Rendered at build time so that they never drift from
    # the SVG.
    find_program(RSVG_CONVERT rsvg-convert REQUIRED)
    install(FILES "${resources}/zentrel-vpn.svg"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
    set(icon_pngs)
    foreach(size 48 64 128 256)
        set(png "${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/zentrel-vpn.png")
        # Makefiles, unlike Ninja, do not make an output's folder.
        add_custom_command(OUTPUT "${png}"
                           COMMAND "${CMAKE_COMMAND}" -E make_directory
                                   "${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}"
                           COMMAND "${RSVG_CONVERT}" --width ${size} --height ${size}
                                   --output "${png}" "${resources}/zentrel-vpn.svg"
                           DEPENDS "${resources}/zentrel-vpn.svg"
                           COMMENT "Rendering the ${size}x${size} icon" VERBATIM)
        list(APPEND icon_pngs "${png}")
        install(FILES "${png}"
                DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
    endforeach()

    # Manual pages, the changelog and the machine-readable copyright, where Debian keeps them.
    set(doc_dir "${CMAKE_CURRENT_BINARY_DIR}/doc")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/LICENSE")
    file(READ "${CMAKE_SOURCE_DIR}/LICENSE" license)
    string(REGEX MATCH "\nCopyright \\(c\\) ([^\n]+)\n(.*)" _ "${license}")
    set(ZENTREL_COPYRIGHT "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" license_text)
    # The copyright file's format: each line indented by one space, blank lines as " .".
    string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
    string(REPLACE "\n" "\n " ZENTREL_LICENSE_TEXT " ${license_text}")
    configure_file("${CMAKE_SOURCE_DIR}/packaging/copyright.in" "${doc_dir}/copyright" @ONLY)
    configure_file("${CMAKE_SOURCE_DIR}/packaging/changelog" "${doc_dir}/changelog" COPYONLY)
    foreach(page zentrel-vpn.1 zentrel-vpn-networksetup.1)
        configure_file("${CMAKE_SOURCE_DIR}/docs/man/${page}.in" "${doc_dir}/${page}" @ONLY)
    endforeach()
    set(compressed)
    foreach(file changelog zentrel-vpn.1 zentrel-vpn-networksetup.1)
        # -n leaves out the name and time, so that the same source gives the same package.
        add_custom_command(OUTPUT "${doc_dir}/${file}.gz"
                           COMMAND gzip -9nkf "${doc_dir}/${file}"
                           DEPENDS "${doc_dir}/${file}" VERBATIM)
        list(APPEND compressed "${doc_dir}/${file}.gz")
    endforeach()
    add_custom_target(zentrel_desktop_files ALL DEPENDS ${icon_pngs} ${compressed})

    set(package_doc_dir "${CMAKE_INSTALL_DATAROOTDIR}/doc/zentrel-vpn")
    install(FILES "${doc_dir}/copyright" "${doc_dir}/changelog.gz" DESTINATION "${package_doc_dir}")
    install(FILES "${doc_dir}/zentrel-vpn.1.gz" "${doc_dir}/zentrel-vpn-networksetup.1.gz"
            DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

    # dpkg keeps a user's edits of files in /etc across upgrades only when they are listed.
    file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles"
         "${ZENTREL_AUTOSTART_FULL_DIR}/${ZENTREL_APP_ID}.restore-proxy.desktop\n")
endif()

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop traffic through an SSH tunnel, from the system tray")
# Lines kept under 80 columns, as Debian's control file wants them.
set(CPACK_PACKAGE_DESCRIPTION
    "Zentrel VPN sits in the system tray and, with one click, starts OpenSSH with\n"
    "dynamic forwarding (a SOCKS proxy on the local machine) and points the\n"
    "desktop's SOCKS proxy at it. Disconnect stops ssh and switches the proxy back\n"
    "off. All it needs is an account on an SSH server that accepts key login.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# packaging/build-deb configures with this prefix too, which puts the autostart entry in /etc.
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
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: programs run through PATH, the SVG icon engine that Qt loads
# at run time, and GIO, which the helper opens for GSettings. The X11 platform plugin comes
# with libqt6gui6; Wayland's is a separate package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "openssh-client, libqt6svg6, libglib2.0-0")
# GNOME's proxy keys and a GSettings backend that persists them; KDE sessions use kwriteconfig.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-wayland, gsettings-desktop-schemas, dconf-gsettings-backend | gsettings-backend")
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
