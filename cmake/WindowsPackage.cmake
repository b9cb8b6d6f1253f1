# The Windows program as a user gets it: one folder with qvoksb.exe, ksb7ctl.exe, the Qt
# libraries and plugins the program loads, the compiler's runtime libraries, the Russian
# translations of Qt's own dialogs, and qt.conf, which tells Qt to find all of them there. The
# installer (NSIS: Start-menu entry, uninstaller) and the portable zip are made from it with
#   cpack -G "NSIS;ZIP"
# which writes qvoksb-<version>-win64.exe and qvoksb-<version>-win64.zip.
install(TARGETS qvoksb RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

# Qt's libraries: the program's modules; their own dependencies are among them.
set(qt_modules Core Gui Widgets PrintSupport)
if(TARGET Qt6::Svg)
    list(APPEND qt_modules Svg)
endif()
foreach(module ${qt_modules})
    install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()

# The plugins: the Windows platform, the native style, the picture formats beyond PNG (the
# program's icon), the printers.
set(qt_plugins ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})
install(FILES ${qt_plugins}/platforms/qwindows.dll DESTINATION plugins/platforms)
foreach(kind styles imageformats printsupport)
    install(DIRECTORY ${qt_plugins}/${kind} DESTINATION plugins FILES_MATCHING PATTERN "*.dll")
endforeach()

# The C and C++ runtime the Qt libraries were built against (the program itself links it
# statically, Qt's libraries do not).
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler's runtime library ${dll} is not found")
    endif()
    install(FILES ${path} DESTINATION .)
endforeach()

# Qt's dialogs in Russian: the translations are the same files on every system; a cross build
# takes the build machine's (qt6-translations-l10n).
find_file(QVOKSB_QTBASE_RU qtbase_ru.qm
          PATHS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS} /usr/share/qt6/translations
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QVOKSB_QTBASE_RU)
    message(FATAL_ERROR "qtbase_ru.qm is not found: install qt6-translations-l10n")
endif()
get_filename_component(qt_translations ${QVOKSB_QTBASE_RU} DIRECTORY)
install(FILES ${qt_translations}/qtbase_ru.qm ${qt_translations}/qt_ru.qm
        DESTINATION translations)
file(WRITE ${CMAKE_BINARY_DIR}/qt.conf "[Paths]\nPrefix = .\nPlugins = plugins\nTranslations = translations\n")
install(FILES ${CMAKE_BINARY_DIR}/qt.conf DESTINATION .)

# --- the installer and the zip -------------------------------------------------------------------
set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME qvoksb)
set(CPACK_PACKAGE_VENDOR "qvoksb developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME qvoksb-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Конфигуратор KSB-7")
set(CPACK_PACKAGE_INSTALL_DIRECTORY QvoKsb)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# The Start-menu entry "Конфигуратор KSB-7" for qvoksb.exe, in the installation folder itself.
set(CPACK_PACKAGE_EXECUTABLES qvoksb "Конфигуратор KSB-7")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME "Конфигуратор KSB-7")
set(CPACK_NSIS_DISPLAY_NAME "Конфигуратор KSB-7")
set(CPACK_NSIS_INSTALLED_ICON_NAME qvoksb.exe)
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/resources/qvoksb.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/resources/qvoksb.ico)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit Unicode installer: the Russian names need Unicode, and a 64-bit stub runs wherever
# the 64-bit program does (also under a Wine without its 32-bit half).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
include(CPack)
