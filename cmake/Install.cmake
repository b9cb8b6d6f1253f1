# Installing the configurator as a desktop program: the program, its menu entry, its icon in the
# desktop theme's sizes, the AppStream metainfo, the manual pages and the licence; and the Debian
# package made from the same rules with `cpack -G DEB`.
include(GNUInstallDirs)

set(QVOKSB_APP_ID org.qvoksb.qvoksb)
set(QVOKSB_ICON_SIZES 16 22 24 32 48 64 128 256)

install(TARGETS qvoksb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/${QVOKSB_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${QVOKSB_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/qvoksb.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QVOKSB_APP_ID}.svg)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/qvoksb.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The PNG icons are rendered from the SVG picture at build time.
add_executable(qvoksb-render-icon tools/render-icon/render_icon.cpp)
target_link_libraries(qvoksb-render-icon PRIVATE Qt6::Gui Qt6::Svg)
set(icon_dir ${CMAKE_BINARY_DIR}/icons)
set(icon_pngs)
foreach(size ${QVOKSB_ICON_SIZES})
    list(APPEND icon_pngs ${icon_dir}/${size}x${size}/${QVOKSB_APP_ID}.png)
    install(FILES ${icon_dir}/${size}x${size}/${QVOKSB_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:qvoksb-render-icon> ${CMAKE_SOURCE_DIR}/resources/icons/qvoksb.svg ${icon_dir}
            ${QVOKSB_APP_ID} ${QVOKSB_ICON_SIZES}
    DEPENDS qvoksb-render-icon ${CMAKE_SOURCE_DIR}/resources/icons/qvoksb.svg
    COMMENT "Rendering the program's icon")
add_custom_target(qvoksb-icons ALL DEPENDS ${icon_pngs})

# --- Debian package -----------------------------------------------------------------------------
set(QVOKSB_PACKAGE_MAINTAINER "qvoksb developers <qvoksb@localhost>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvoksb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator of the KSB-7 feeder protection relay")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Edits the settings of a KSB-7 feeder protection relay on seven pages, saves\n"
    "and opens them as configuration files, writes them into the unit and reads\n"
    "them back over Modbus RTU on a serial port, sends the unit's control commands\n"
    "and reads its inputs, outputs and last trip. ksb7-sim plays a unit on a\n"
    "pseudo-terminal for trying the program without one.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QVOKSB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The toolkit's own buttons and dialogs in Russian.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_STRIP_FILES ON)
include(CPack)
