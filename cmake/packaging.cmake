# Installing and packaging the program. Included from the end of the top CMakeLists.txt.
#
# The layouts, as install components:
#   prefix   what `cmake --install` gives: the usual tree under the prefix (bin/,
#            share/applications/, share/icons/hicolor/<size>/apps/, share/doc/ozzlebeck/).
#   archive  what a release archive holds: one flat folder with the program, its documents and,
#            on Linux, the desktop entry and the icon. The program keeps its settings beside
#            itself, so a release is a folder the user unpacks somewhere writable.
#   system, deb, rpm   what the Debian package and the RPM install under /usr (see "The
#            system packages" below). Installed there, the program keeps each user's settings
#            under $XDG_CONFIG_HOME/ozzlebeck/.
# All but prefix are left out of a plain install (EXCLUDE_FROM_ALL); CPack installs them.
#
# `cpack` in a Linux build writes ozzlebeck-<version>-linux-x86_64.tar.gz, `cpack -G DEB`
# ozzlebeck_<version>_<arch>.deb and `cpack -G RPM` ozzlebeck-<version>-1.<arch>.rpm; in the
# MinGW-w64 (or any Windows) build `cpack` writes ozzlebeck-<version>-windows-x86_64.zip.
# scripts/package builds them all.
if(NOT TARGET ozzlebeck)
  return()  # OZZ_BACKEND none: nothing to install
endif()

include(GNUInstallDirs)

set(OZZ_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(OZZ_DOCUMENTS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
# The icons are drawn by scripts/make_picture.py and committed, so the build needs no Python.
# Windows takes its icon from the executable.
set(OZZ_DESKTOP_ENTRY ${OZZ_PACKAGING}/ozzlebeck.desktop)
# What the Linux program reads at run time on Wayland desktops: the KWin script it loads, looked
# for beside the program and in ../share/ozzlebeck; and the GNOME Shell extension, in its form
# for GNOME 45 and later and its form for 43 and 44.
set(OZZ_KWIN_SCRIPT ${PROJECT_SOURCE_DIR}/data/ozzlebeck/ozzlebeck-pointer.js)
set(OZZ_SHELL_EXTENSIONS ${PROJECT_SOURCE_DIR}/data/gnome-shell/ozzlebeck-pointer@tavik
                         ${PROJECT_SOURCE_DIR}/data/gnome-shell/ozzlebeck-pointer-43@tavik)
set(OZZ_ICON_SIZES 16 32 48 64 128 256)
set(OZZ_ARCHIVE_ICON_SIZE 48)  # the one icon beside the program in the Linux archive

# Where the project lives, for the package's metadata, and the identity software centres know
# the program by. Both stay the same from release to release.
set(OZZ_HOMEPAGE "https://ozzlebeck.example.org/" CACHE STRING "The project's home page (ends in /)")
set(OZZ_APPSTREAM_ID "org.example.ozzlebeck" CACHE STRING "The program's AppStream component id")
set(OZZ_MAINTAINER "The Ozzlebeck developers <ozzlebeck@example.org>"
    CACHE STRING "Maintainer of the Debian package and packager of the RPM: name <address>")

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
  install(FILES ${OZZ_KWIN_SCRIPT} DESTINATION ${CMAKE_INSTALL_DATADIR}/ozzlebeck COMPONENT prefix)
  install(DIRECTORY ${OZZ_SHELL_EXTENSIONS}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions COMPONENT prefix)
  # The program run from the build tree finds the script beside itself, as in the archive.
  configure_file(${OZZ_KWIN_SCRIPT} ${PROJECT_BINARY_DIR}/ozzlebeck-pointer.js COPYONLY)
endif()

# ---- archive: one flat folder ---------------------------------------------------------------
install(TARGETS ozzlebeck RUNTIME DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
install(FILES ${OZZ_DOCUMENTS} DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
if(NOT WIN32)
  install(FILES ${OZZ_DESKTOP_ENTRY} DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  install(FILES ${OZZ_PACKAGING}/icons/ozzlebeck-${OZZ_ARCHIVE_ICON_SIZE}.png DESTINATION .
          RENAME ozzlebeck.png COMPONENT archive EXCLUDE_FROM_ALL)
  install(FILES ${OZZ_KWIN_SCRIPT} DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
endif()

# ---- The system packages: the Debian package and the RPM ------------------------------------
# Both hold one program, built for them (-DOZZ_SYSTEM_INSTALL=ON, linked to the system's shared
# libraries; scripts/package builds it once, in build/pkg-system), installed under /usr:
#   system   what the two hold alike: every file of OZZ_SYSTEM_DATA below (the icons, the
#            manual page, the AppStream metainfo, and any runtime data added there).
#   deb      Debian's own: the program in games/, a desktop entry that starts it there by its
#            full path, and the copyright and changelog Debian asks for.
#   rpm      Fedora's and openSUSE's own: the program in bin/, the desktop entry as it is, the
#            licence (marked %license) and the README; the changelog is in the package header.
if(NOT WIN32)
  # The package manager owns the program's folder: the program then keeps every user's settings
  # in their own file, even root's, and reads a file beside itself only as the first place.
  option(OZZ_SYSTEM_INSTALL
         "Build the program for a system package: settings only in each user's own file" OFF)
  set(OZZ_SYSTEM_PROGRAM no)  # cpack_generators.cmake refuses to package any other program
  if(OZZ_SYSTEM_INSTALL)
    target_compile_definitions(ozzlebeck PRIVATE OZZ_SYSTEM_INSTALL)
    set(OZZ_SYSTEM_PROGRAM yes)
  endif()

  set(OZZ_SYSTEM ${PROJECT_BINARY_DIR}/system)
  set(OZZ_VERSION ${PROJECT_VERSION})
  configure_file(${OZZ_PACKAGING}/ozzlebeck.metainfo.xml.in
                 ${OZZ_SYSTEM}/${OZZ_APPSTREAM_ID}.metainfo.xml @ONLY)
  configure_file(${OZZ_PACKAGING}/ozzlebeck.6 ${OZZ_SYSTEM}/ozzlebeck.6 @ONLY)
  configure_file(${OZZ_PACKAGING}/deb/copyright.in ${OZZ_SYSTEM}/deb/copyright @ONLY)
  configure_file(${OZZ_PACKAGING}/deb/changelog.in ${OZZ_SYSTEM}/deb/changelog @ONLY)
  configure_file(${OZZ_PACKAGING}/rpm/changelog.in ${OZZ_SYSTEM}/rpm/changelog @ONLY)
  # Debian keeps toys like this one in /usr/games, which is not on every user's PATH (root's,
  # for one): its menu starts the program by its full path.
  file(READ ${OZZ_DESKTOP_ENTRY} entry)
  string(REGEX REPLACE "\nExec=ozzlebeck\n" "\nExec=/usr/games/ozzlebeck\n" entry "${entry}")
  file(GENERATE OUTPUT ${OZZ_SYSTEM}/deb/ozzlebeck.desktop CONTENT "${entry}")

  # Runtime data both packages install, in one list so the two cannot drift: pairs of a file or
  # folder and the folder under /usr it goes into. A path is taken from the source tree unless
  # absolute (a file made by the build); a folder that exists when CMake runs goes in whole,
  # under its own name. To ship another file (a window manager's script, a desktop shell's
  # extension), add its pair here:
  #     packaging/kwin/ozzlebeck    share/kwin/scripts
  # The destination folders belong to the system (the RPM does not own them); a folder listed
  # here, with what is in it, belongs to the package. The package check fails when the two
  # packages' files under /usr/share differ in anything but their documents.
  set(OZZ_SYSTEM_DATA
      ${OZZ_SYSTEM}/ozzlebeck.6.gz                    share/man/man6
      ${OZZ_SYSTEM}/${OZZ_APPSTREAM_ID}.metainfo.xml  share/metainfo
      data/ozzlebeck                                  share)
  foreach(extension ${OZZ_SHELL_EXTENSIONS})
    list(APPEND OZZ_SYSTEM_DATA ${extension} share/gnome-shell/extensions)
  endforeach()
  foreach(size ${OZZ_ICON_SIZES})
    # Renamed as the icon theme wants it, in a folder of its size.
    configure_file(${OZZ_PACKAGING}/icons/ozzlebeck-${size}.png
                   ${OZZ_SYSTEM}/icons/${size}/ozzlebeck.png COPYONLY)
    list(APPEND OZZ_SYSTEM_DATA ${OZZ_SYSTEM}/icons/${size}/ozzlebeck.png
         share/icons/hicolor/${size}x${size}/apps)
  endforeach()

  # Debian compresses manual pages and changelogs with gzip -9n (no name, no time stamp), and
  # Fedora's rpmbuild compresses manual pages with gzip -9n too.
  find_program(OZZ_GZIP gzip)
  if(OZZ_GZIP)
    add_custom_command(
      OUTPUT ${OZZ_SYSTEM}/ozzlebeck.6.gz ${OZZ_SYSTEM}/deb/changelog.gz
      COMMAND ${OZZ_GZIP} -9nfk ozzlebeck.6 deb/changelog
      DEPENDS ${OZZ_SYSTEM}/ozzlebeck.6 ${OZZ_SYSTEM}/deb/changelog
      WORKING_DIRECTORY ${OZZ_SYSTEM}
      COMMENT "Compressing the manual page and the changelog")
    add_custom_target(ozz_system_files ALL
                      DEPENDS ${OZZ_SYSTEM}/ozzlebeck.6.gz ${OZZ_SYSTEM}/deb/changelog.gz)

    set(OZZ_RPM_SHARED_FOLDERS)  # what the RPM leaves to the system's own packages
    list(LENGTH OZZ_SYSTEM_DATA count)
    math(EXPR last "${count} - 1")
    foreach(at RANGE 0 ${last} 2)
      math(EXPR to "${at} + 1")
      list(GET OZZ_SYSTEM_DATA ${at} from)
      list(GET OZZ_SYSTEM_DATA ${to} folder)
      cmake_path(ABSOLUTE_PATH from BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
      if(IS_DIRECTORY ${from})
        install(DIRECTORY ${from} DESTINATION ${folder} COMPONENT system EXCLUDE_FROM_ALL)
      else()
        install(FILES ${from} DESTINATION ${folder} COMPONENT system EXCLUDE_FROM_ALL)
      endif()
      while(NOT folder STREQUAL "share" AND NOT folder STREQUAL "")
        list(APPEND OZZ_RPM_SHARED_FOLDERS /usr/${folder})
        cmake_path(GET folder PARENT_PATH folder)
      endwhile()
    endforeach()
    list(APPEND OZZ_RPM_SHARED_FOLDERS /usr/share/applications /usr/share/licenses)
    list(REMOVE_DUPLICATES OZZ_RPM_SHARED_FOLDERS)

    # ozz_system_program(FOLDER COMPONENT): the program in /usr/FOLDER. CPack strips it; the compiler's and
    # the start files' notes (.comment, .note) serve no one either, and Debian's and Fedora's
    # own tools drop them too.
    function(ozz_system_program folder component)
      install(TARGETS ozzlebeck RUNTIME DESTINATION ${folder} COMPONENT ${component}
              EXCLUDE_FROM_ALL)
      if(CMAKE_STRIP)
        install(CODE "
          if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                                    --remove-section=.note
                                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${folder}/ozzlebeck\")
          endif()" COMPONENT ${component} EXCLUDE_FROM_ALL)
      endif()
    endfunction()

    set(deb COMPONENT deb EXCLUDE_FROM_ALL)
    ozz_system_program(games deb)
    install(FILES ${OZZ_SYSTEM}/deb/ozzlebeck.desktop DESTINATION share/applications ${deb})
    install(FILES ${OZZ_SYSTEM}/deb/copyright ${OZZ_SYSTEM}/deb/changelog.gz
            DESTINATION share/doc/ozzlebeck ${deb})

    set(rpm COMPONENT rpm EXCLUDE_FROM_ALL)
    ozz_system_program(bin rpm)
    install(FILES ${OZZ_DESKTOP_ENTRY} DESTINATION share/applications ${rpm})
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/licenses/ozzlebeck ${rpm})
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/ozzlebeck ${rpm})
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

# The system packages: what the two say of the program below their summary line.
set(OZZ_DESCRIPTION
    "Tavik's Ozzlebeck shows a small window cut to the outline of a dog's face.\n\
It stays above the other windows, and the dog's two eyes follow the mouse\n\
pointer about fourteen times a second. Drag the dog with the left mouse\n\
button, and double-click it to remember its place and quit. It needs an X11\n\
display.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Each package: the common component, then its own.
set(project ${PROJECT_BINARY_DIR} ${PROJECT_NAME})
set(OZZ_DEB_PROJECTS ${project} system / ${project} deb /)
set(OZZ_RPM_PROJECTS ${project} system / ${project} rpm /)

# The Debian package (`cpack -G DEB`): the system and deb components under /usr, its
# dependencies found by dpkg-shlibdeps from the libraries the program really loads.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OZZ_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${OZZ_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded with dlopen on Wayland desktops only, so dpkg-shlibdeps cannot see it; without it the
# program runs as on X11.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libdbus-1-3)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${OZZ_DESCRIPTION}")

# The RPM (`cpack -G RPM`): the system and rpm components under /usr, ozzlebeck-<version>-1.
# <arch>.rpm; rpmbuild works out its Requires from the libraries the program loads. It owns its
# own folders only, and none that other packages share (OZZ_RPM_SHARED_FOLDERS).
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
# Fedora's guidelines keep the package's name out of its summary.
set(CPACK_RPM_PACKAGE_SUMMARY "A dog on the desktop that watches the mouse")
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Amusements/Games")
set(CPACK_RPM_PACKAGE_URL "${OZZ_HOMEPAGE}")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${OZZ_DESCRIPTION}")
set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/system/rpm/changelog)
# The D-Bus library, loaded with dlopen on Wayland desktops only, is a weak dependency, as in
# the .deb. CPack has no variable for an RPM's Recommends tag; the extra definitions below are
# written among the package's header tags, so the tag goes in with them.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${OZZ_MAINTAINER}\nRecommends: libdbus-1.so.3()(64bit)")
set(CPACK_RPM_USER_FILELIST "%license /usr/share/licenses/ozzlebeck/LICENSE"
                            "%doc /usr/share/doc/ozzlebeck/README.md")
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION ${OZZ_RPM_SHARED_FOLDERS})
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
