# Installing and packaging the program. Included from the end of the top CMakeLists.txt.
#
# Two layouts, as two install components:
#   prefix   what `cmake --install` gives: the usual tree under the prefix (bin/,
#            share/applications/, share/icons/hicolor/32x32/apps/, share/doc/ozzlebeck/).
#   archive  what a release archive holds: one flat folder with the program, its documents and,
#            on Linux, the desktop entry and the icon. The program keeps its settings beside
#            itself, so a release is a folder the user unpacks somewhere writable. This component
#            is left out of a plain install (EXCLUDE_FROM_ALL) and is the only one CPack installs.
#
# `cpack` in a Linux build writes ozzlebeck-<version>-linux-x86_64.tar.gz; in the MinGW-w64
# (or any Windows) build, ozzlebeck-<version>-windows-x86_64.zip. scripts/package builds both.
if(NOT TARGET ozzlebeck)
  return()  # OZZ_BACKEND none: nothing to install
endif()

include(GNUInstallDirs)

set(OZZ_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(OZZ_DOCUMENTS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
# The icon is generated from src/watcher/resources/icon32.rgba by packaging/make_icon_png.py
# and committed, so the build needs no Python. Windows takes its icon from the executable.
set(OZZ_DESKTOP_ENTRY ${OZZ_PACKAGING}/ozzlebeck.desktop)
set(OZZ_DESKTOP_ICON ${OZZ_PACKAGING}/ozzlebeck.png)

# ---- prefix: the usual tree -----------------------------------------------------------------
# Installed to a system prefix, the settings file would land in bin/, where a user cannot
# write: the program then stays silent and only forgets its place.
install(TARGETS ozzlebeck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT prefix)
install(FILES ${OZZ_DOCUMENTS} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT prefix)
if(NOT WIN32)
  install(FILES ${OZZ_DESKTOP_ENTRY}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT prefix)
  install(FILES ${OZZ_DESKTOP_ICON}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps COMPONENT prefix)
endif()

# ---- archive: one flat folder ---------------------------------------------------------------
install(TARGETS ozzlebeck RUNTIME DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
install(FILES ${OZZ_DOCUMENTS} DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
if(NOT WIN32)
  install(FILES ${OZZ_DESKTOP_ENTRY} ${OZZ_DESKTOP_ICON}
          DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
endif()

# ---- CPack ----------------------------------------------------------------------------------
if(WIN32)
  set(OZZ_PACKAGE_SYSTEM windows)
  set(CPACK_GENERATOR ZIP)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" OZZ_PACKAGE_SYSTEM)
  set(CPACK_GENERATOR TGZ)
endif()
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" OZZ_PACKAGE_ARCH)
if(OZZ_PACKAGE_ARCH MATCHES "^(amd64|x64)$")
  set(OZZ_PACKAGE_ARCH x86_64)  # what Windows and the BSDs call it
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Ozzlebeck developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}: a dog on the desktop that watches the mouse")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${OZZ_PACKAGE_SYSTEM}-${OZZ_PACKAGE_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# One monolithic archive of the archive component only: the prefix tree stays out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};archive;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
