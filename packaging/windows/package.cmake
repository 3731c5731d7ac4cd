# The Windows installer and the portable .zip (cpack in the Windows build
# folder; scripts/windows runs it): both programs in one folder with the Qt and
# MinGW-w64 DLLs and the plugins they load, the licence, a start-menu entry for
# the window and an uninstaller.

# Qt's DLLs and the plugins the window loads: the Windows platform and the
# native style; the offscreen platform for windows without a display.
foreach(module Core Gui Widgets SerialPort)
  install(FILES ${TESSAVIN_QT_BIN}/Qt6${module}.dll DESTINATION .)
endforeach()
install(FILES ${TESSAVIN_QT_PLUGINS}/platforms/qwindows.dll ${TESSAVIN_QT_PLUGINS}/platforms/qoffscreen.dll
        DESTINATION platforms)
file(GLOB tessavin_styles ${TESSAVIN_QT_PLUGINS}/styles/*.dll)
install(FILES ${tessavin_styles} DESTINATION styles)
file(GLOB tessavin_image_formats ${TESSAVIN_QT_PLUGINS}/imageformats/*.dll)
install(FILES ${tessavin_image_formats} DESTINATION imageformats)
install(FILES ${TESSAVIN_RUNTIME_DLLS} DESTINATION .)
# Windows opens .txt files with a double click.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_PACKAGE_NAME tessavin)
set(CPACK_PACKAGE_VENDOR "The Tessavin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for a logging controller on a serial port")
set(CPACK_PACKAGE_FILE_NAME tessavin-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tessavin)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tessavin)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
# The start-menu entry: the window, by its name.
set(CPACK_PACKAGE_EXECUTABLES tessavin Tessavin)
set(CPACK_NSIS_DISPLAY_NAME "Tessavin ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Tessavin ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALLED_ICON_NAME tessavin.exe)
set(CPACK_NSIS_MUI_ICON ${CMAKE_CURRENT_LIST_DIR}/tessavin.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_CURRENT_LIST_DIR}/tessavin.ico)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer for 64-bit programs (NSIS makes 32-bit ones unless told).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
include(CPack)
