# Where `cmake --install` puts the programs on Linux, and the Debian package (cpack -G DEB).
#
#   <prefix>/bin/KBR3300_Wizardd, KBR3300       the two programs (install rules in wizard/, shell/)
#   <prefix>/bin/nwinf, ipconfig                the helpers: the configuration program looks for
#                                               nwinf beside itself, the wizard runs ipconfig from
#                                               the search path
#   <prefix>/bin/kbr3300                        launcher: starts the wizard from a per-user folder
#   <prefix>/share/kbr3300/PgPack.dll           the page library (rule in shell/): searched after
#                                               the current directory (KBR_PAGE_DATADIR)
#   <prefix>/share/kbr3300/doc/*.htm            the DHCP help documents, linked in as doc/
#   <prefix>/share/applications/kbr3300.desktop desktop entry (runs the launcher)
#   <prefix>/share/icons/hicolor/scalable/apps/kbr3300.svg
#   <prefix>/bin/kbr3300ctl                     the command-line tool (below: its manual page and
#                                               bash completion)
#
# The wizard starts "./KBR3300" and opens "doc/..." relative to its current directory, and the IP
# helper writes ipinfo.tmp and nicinfo.tmp into it; so the launcher makes a folder per user
# ($XDG_RUNTIME_DIR/kbr3300) with links to the program and the documents and starts the wizard
# there.
#
# The page library's place is compiled into the program from CMAKE_INSTALL_PREFIX, so the package
# is made for that same prefix: configure with -DCMAKE_INSTALL_PREFIX=/usr for a package that
# installs into /usr.
include_guard(GLOBAL)
include(GNUInstallDirs)

# kbr3300ctl (install rule in ctl/) with its manual page, compressed as Debian keeps them,
# and its bash completion:
#   <prefix>/share/man/man1/kbr3300ctl.1.gz
#   <prefix>/share/bash-completion/completions/kbr3300ctl
if(NOT WIN32)  # kbr3300ctl is built for Linux only
  set(_kbr_ctl_man ${PROJECT_SOURCE_DIR}/packaging/kbr3300ctl.1)
  find_program(KBR_GZIP gzip)
  if(KBR_GZIP)
    set(_kbr_ctl_man_gz ${CMAKE_BINARY_DIR}/packaging/kbr3300ctl.1.gz)
    add_custom_command(OUTPUT ${_kbr_ctl_man_gz}
      COMMAND ${CMAKE_COMMAND} -E copy ${_kbr_ctl_man} ${CMAKE_BINARY_DIR}/packaging/kbr3300ctl.1
      COMMAND ${KBR_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/kbr3300ctl.1
      DEPENDS ${_kbr_ctl_man}
      VERBATIM)
    add_custom_target(kbr3300ctl_manual ALL DEPENDS ${_kbr_ctl_man_gz})
    install(FILES ${_kbr_ctl_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${_kbr_ctl_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kbr3300ctl.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kbr3300ctl)
endif()

if(NOT KBR_BUILD_GUI OR WIN32)
  return()
endif()

set(KBR_INSTALL_HELPDIR ${CMAKE_INSTALL_DATADIR}/kbr3300/doc)
set(KBR_INSTALL_FULL_HELPDIR ${CMAKE_INSTALL_FULL_DATADIR}/kbr3300/doc)

install(TARGETS nwinf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/dhcp-help/xp.htm ${PROJECT_SOURCE_DIR}/dhcp-help/vista.htm ${PROJECT_SOURCE_DIR}/dhcp-help/linux.htm
        DESTINATION ${KBR_INSTALL_HELPDIR})

configure_file(${PROJECT_SOURCE_DIR}/packaging/kbr3300.in ${CMAKE_BINARY_DIR}/packaging/kbr3300 @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/kbr3300 DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kbr3300.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kbr3300.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kbr3300)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Setup wizard and configuration program for the KBR3300 coax adaptor")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The setup wizard finds a KBR3300 Ethernet-to-coax (MoCA) adaptor in configuration mode at\n"
    "192.168.0.20 and starts the configuration program, which reads and changes the adaptor's\n"
    "settings and upgrades its firmware through local HTML pages in an embedded browser.\n"
    "kbr3300ctl does the same from the command line, for scripts: status, settings backup and\n"
    "restore, firmware upgrade with progress, JSON output.")
set(CPACK_PACKAGE_CONTACT "KBR3300 tools <kbr3300-tools@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The browser engine's helper process is not a library the programs link.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6webenginecore6-bin, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "network-manager | isc-dhcp-client")
include(CPack)
