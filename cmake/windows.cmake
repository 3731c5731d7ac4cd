# What the Windows build needs beyond the common rules: programs, DLLs and
# plugins in one flat folder (the settings file lives beside the programs), the
# runtime DLLs of Qt and of MinGW-w64 found for tests and for the installer,
# and, when cross-compiling, the tests run under wine.

# One folder: Qt finds its platform plugin in platforms\ beside the program.
set(CMAKE_INSTALL_BINDIR . CACHE PATH "Where the programs and DLLs go" FORCE)

# Qt's own DLLs and plugins.
set(TESSAVIN_QT_PREFIX "${QT6_INSTALL_PREFIX}")
set(TESSAVIN_QT_BIN "${TESSAVIN_QT_PREFIX}/${QT6_INSTALL_BINS}")
set(TESSAVIN_QT_PLUGINS "${TESSAVIN_QT_PREFIX}/${QT6_INSTALL_PLUGINS}")

# The MinGW-w64 runtime the compiler links against (C++ library, unwinder,
# threads). MSVC needs none of it.
set(TESSAVIN_RUNTIME_DLLS)
if(MINGW)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
      # libwinpthread lives with the MinGW-w64 libraries, not the compiler's.
      find_file(path_found ${dll} PATHS ${CMAKE_FIND_ROOT_PATH} PATH_SUFFIXES lib bin NO_CACHE)
      set(path "${path_found}")
      unset(path_found)
    endif()
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "The MinGW-w64 runtime DLL ${dll} was not found")
    endif()
    list(APPEND TESSAVIN_RUNTIME_DLLS "${path}")
  endforeach()
endif()

# Cross-built tests and programs run under wine with the DLL folders on its
# path (tests/windows/wine-run); a wine prefix of the caller's (WINEPREFIX).
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(TESSAVIN_WINE_DLL_DIRS "${TESSAVIN_QT_BIN}")
  foreach(dll ${TESSAVIN_RUNTIME_DLLS})
    get_filename_component(dir "${dll}" DIRECTORY)
    list(APPEND TESSAVIN_WINE_DLL_DIRS "${dir}")
  endforeach()
  list(REMOVE_DUPLICATES TESSAVIN_WINE_DLL_DIRS)
  list(JOIN TESSAVIN_WINE_DLL_DIRS ":" TESSAVIN_WINE_DLL_DIRS)
  # The offscreen platform finds its fonts in one folder; these are the ones the
  # Linux tests measure captions with (DejaVu Sans), so both agree on what fits.
  set(TESSAVIN_WINE_FONTS ${PROJECT_BINARY_DIR}/fonts)
  file(MAKE_DIRECTORY ${TESSAVIN_WINE_FONTS})
  foreach(font DejaVuSans.ttf DejaVuSans-Bold.ttf DejaVuSansMono.ttf DejaVuSansMono-Bold.ttf)
    if(EXISTS /usr/share/fonts/truetype/dejavu/${font})
      file(CREATE_LINK /usr/share/fonts/truetype/dejavu/${font} ${TESSAVIN_WINE_FONTS}/${font} SYMBOLIC)
    endif()
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/tests/windows/wine-run.in ${PROJECT_BINARY_DIR}/wine-run
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
endif()
