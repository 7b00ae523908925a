# Installing and packaging the program. Included from the end of the top CMakeLists.txt.
#
# Three layouts, as three install components:
#   prefix   what `cmake --install` gives: the usual tree under the prefix (bin/,
#            share/applications/, share/icons/hicolor/<size>/apps/, share/doc/ozzlebeck/).
#   archive  what a release archive holds: one flat folder with the program, its documents and,
#            on Linux, the desktop entry and the icon. The program keeps its settings beside
#            itself, so a release is a folder the user unpacks somewhere writable.
#   deb      what the Debian package installs under /usr: the program in games/, the desktop
#            entry, the icons, the manual page, the AppStream metainfo, and the copyright and
#            changelog Debian asks for. Installed there, the program keeps each user's settings
#            under $XDG_CONFIG_HOME/ozzlebeck/.
# archive and deb are left out of a plain install (EXCLUDE_FROM_ALL); CPack installs one of them.
#
# `cpack` in a Linux build writes ozzlebeck-<version>-linux-x86_64.tar.gz, `cpack -G DEB`
# ozzlebeck_<version>_<arch>.deb; in the MinGW-w64 (or any Windows) build `cpack` writes
# ozzlebeck-<version>-windows-x86_64.zip. scripts/package builds them all.
if(NOT TARGET ozzlebeck)
  return()  # OZZ_BACKEND none: nothing to install
endif()

include(GNUInstallDirs)

set(OZZ_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(OZZ_DOCUMENTS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
# The icons are drawn by scripts/make_picture.py and committed, so the build needs no Python.
# Windows takes its icon from the executable.
set(OZZ_DESKTOP_ENTRY ${OZZ_PACKAGING}/ozzlebeck.desktop)
set(OZZ_ICON_SIZES 16 32 48 64 128 256)
set(OZZ_ARCHIVE_ICON_SIZE 48)  # the one icon beside the program in the Linux archive

# Where the project lives, for the package's metadata, and the identity software centres know
# the program by. Both stay the same from release to release.
set(OZZ_HOMEPAGE "https://ozzlebeck.example.org/" CACHE STRING "The project's home page (ends in /)")
set(OZZ_APPSTREAM_ID "org.example.ozzlebeck" CACHE STRING "The program's AppStream component id")
set(OZZ_MAINTAINER "The Ozzlebeck developers <ozzlebeck@example.org>"
    CACHE STRING "Maintainer of the Debian package: name <address>")

# ---- prefix: the usual tree -----------------------------------------------------------------
# Installed to a system prefix, the settings file cannot be written beside the program in bin/;
# each user's own settings file takes the place then.
install(TARGETS ozzlebeck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT prefix)
install(FILES ${OZZ_DOCUMENTS} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT prefix)
if(NOT WIN32)
  install(FILES ${OZZ_DESKTOP_ENTRY}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT prefix)
  foreach(size ${OZZ_ICON_SIZES})
    install(FILES ${OZZ_PACKAGING}/icons/ozzlebeck-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ozzlebeck.png COMPONENT prefix)
  endforeach()
endif()

# ---- archive: one flat folder ---------------------------------------------------------------
install(TARGETS ozzlebeck RUNTIME DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
install(FILES ${OZZ_DOCUMENTS} DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
if(NOT WIN32)
  install(FILES ${OZZ_DESKTOP_ENTRY} DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  install(FILES ${OZZ_PACKAGING}/icons/ozzlebeck-${OZZ_ARCHIVE_ICON_SIZE}.png DESTINATION .
          RENAME ozzlebeck.png COMPONENT archive EXCLUDE_FROM_ALL)
endif()

# ---- deb: the Debian package's tree under /usr ----------------------------------------------
if(NOT WIN32)
  set(OZZ_DEB ${PROJECT_BINARY_DIR}/deb)
  set(OZZ_VERSION ${PROJECT_VERSION})
  # Debian keeps toys like this one in /usr/games, which is not on every user's PATH (root's,
  # for one): the menu starts the program by its full path.
  file(READ ${OZZ_DESKTOP_ENTRY} entry)
  string(REGEX REPLACE "\nExec=ozzlebeck\n" "\nExec=/usr/games/ozzlebeck\n" entry "${entry}")
  file(GENERATE OUTPUT ${OZZ_DEB}/ozzlebeck.desktop CONTENT "${entry}")
  configure_file(${OZZ_PACKAGING}/ozzlebeck.metainfo.xml.in
                 ${OZZ_DEB}/${OZZ_APPSTREAM_ID}.metainfo.xml @ONLY)
  configure_file(${OZZ_PACKAGING}/deb/copyright.in ${OZZ_DEB}/copyright @ONLY)
  configure_file(${OZZ_PACKAGING}/deb/changelog.in ${OZZ_DEB}/changelog @ONLY)
  configure_file(${OZZ_PACKAGING}/ozzlebeck.6 ${OZZ_DEB}/ozzlebeck.6 @ONLY)
  # Debian compresses manual pages and changelogs with gzip -9n (no name, no time stamp).
  find_program(OZZ_GZIP gzip)
  if(OZZ_GZIP)
    add_custom_command(
      OUTPUT ${OZZ_DEB}/ozzlebeck.6.gz ${OZZ_DEB}/changelog.gz
      COMMAND ${OZZ_GZIP} -9nfk ozzlebeck.6 changelog
      DEPENDS ${OZZ_DEB}/ozzlebeck.6 ${OZZ_DEB}/changelog
      WORKING_DIRECTORY ${OZZ_DEB}
      COMMENT "Compressing the manual page and the changelog")
    add_custom_target(ozz_deb_files ALL DEPENDS ${OZZ_DEB}/ozzlebeck.6.gz ${OZZ_DEB}/changelog.gz)

    set(deb COMPONENT deb EXCLUDE_FROM_ALL)
    install(TARGETS ozzlebeck RUNTIME DESTINATION games ${deb})
    # CPack strips the program; the compiler's and the start files' notes (.comment, .note)
    # serve no one either, and Debian's own tools drop them too.
    if(CMAKE_STRIP)
      install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
          execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                                  --remove-section=.note
                                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/games/ozzlebeck\")
        endif()" ${deb})
    endif()
    install(FILES ${OZZ_DEB}/ozzlebeck.desktop DESTINATION share/applications ${deb})
    foreach(size ${OZZ_ICON_SIZES})
      install(FILES ${OZZ_PACKAGING}/icons/ozzlebeck-${size}.png
              DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ozzlebeck.png ${deb})
    endforeach()
    install(FILES ${OZZ_DEB}/ozzlebeck.6.gz DESTINATION share/man/man6 ${deb})
    install(FILES ${OZZ_DEB}/${OZZ_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo ${deb})
    install(FILES ${OZZ_DEB}/copyright ${OZZ_DEB}/changelog.gz
            DESTINATION share/doc/ozzlebeck ${deb})
  endif()
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

# The Debian package (`cpack -G DEB`): the deb component under /usr, its dependencies found by
# dpkg-shlibdeps from the libraries the program really loads.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OZZ_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${OZZ_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The summary line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavik's Ozzlebeck shows a small window cut to the outline of a dog's face.\n\
It stays above the other windows, and the dog's two eyes follow the mouse\n\
pointer about fourteen times a second. Drag the dog with the left mouse\n\
button, and double-click it to remember its place and quit. It needs an X11\n\
display.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(OZZ_DEB_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};deb;/")
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_generators.cmake.in
               ${PROJECT_BINARY_DIR}/cpack_generators.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack_generators.cmake)
include(CPack)

# ==== Windows installer and winget manifests ==================================================
# In a Windows build with makensis (Debian: nsis) at hand, the `setup` target writes into setup/:
#   ozzlebeck-<version>-windows-x86_64-setup.exe  the per-user installer
#                                                 (packaging/windows/ozzlebeck.nsi), carrying
#                                                 the archive component's files, stripped
#   ozzlebeck-<version>-windows-x86_64-setup.exe.sha256
#   winget/<id>.yaml, <id>.installer.yaml, <id>.locale.en-US.yaml   winget's manifests
#                                                 (packaging/winget/), with the installer's
#                                                 SHA-256 and its address under OZZ_DOWNLOAD_URL
# scripts/package builds it; cmake/windows_setup.cmake does the work.
if(WIN32)
  set(OZZ_DOWNLOAD_URL "${OZZ_HOMEPAGE}download/${PROJECT_VERSION}/"
      CACHE STRING "Where a release's files are downloaded from (ends in /), for winget")
  set(OZZ_WINGET_ID "Ozzlebeck.Ozzlebeck"
      CACHE STRING "The program's winget package identifier (Publisher.Package)")
  find_program(OZZ_MAKENSIS makensis)
  if(OZZ_MAKENSIS)
    set(OZZ_SETUP_DIR ${PROJECT_BINARY_DIR}/setup)
    set(OZZ_SETUP_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${OZZ_PACKAGE_SYSTEM}-${OZZ_PACKAGE_ARCH}-setup.exe)
    set(OZZ_SETUP ${OZZ_SETUP_DIR}/${OZZ_SETUP_NAME})
    file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE OZZ_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
    file(GLOB OZZ_SETUP_SOURCES ${OZZ_PACKAGING}/windows/* ${OZZ_PACKAGING}/winget/*)
    add_custom_command(
      OUTPUT ${OZZ_SETUP} ${OZZ_SETUP}.sha256
      COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR} -DSOURCE=${PROJECT_SOURCE_DIR}
              -DMAKENSIS=${OZZ_MAKENSIS} -DOUT=${OZZ_SETUP_DIR}
              -DNAME=${OZZ_SETUP_NAME} -DVERSION=${PROJECT_VERSION}
              -DPUBLISHER=${CPACK_PACKAGE_VENDOR} -DHOMEPAGE=${OZZ_HOMEPAGE}
              -DCOPYRIGHT=${OZZ_COPYRIGHT} -DDISPLAY_NAME=${PROJECT_DESCRIPTION}
              -DSUMMARY=${CPACK_PACKAGE_DESCRIPTION_SUMMARY} -DOZZ_WINGET_ID=${OZZ_WINGET_ID}
              -DDOWNLOAD_URL=${OZZ_DOWNLOAD_URL}
              -P ${PROJECT_SOURCE_DIR}/cmake/windows_setup.cmake
      DEPENDS ozzlebeck ${OZZ_DOCUMENTS} ${OZZ_SETUP_SOURCES}
              ${PROJECT_SOURCE_DIR}/cmake/windows_setup.cmake
              ${PROJECT_SOURCE_DIR}/src/watcher/resources/icon.ico
      COMMENT "Building the installer ${OZZ_SETUP_NAME}"
      VERBATIM)
    add_custom_target(setup DEPENDS ${OZZ_SETUP})
  endif()
endif()
# ==== end of the Windows installer ============================================================
