# Per generator: the installer is tessavin-VERSION-win64-setup.exe, the portable
# archive tessavin-VERSION-win64.zip with the files at its top.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
