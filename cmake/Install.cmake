# Every install rule of the project, and the Debian packages (cpack -G DEB in the build folder).
#
# The user's package (component "kbr3300"):
#   <prefix>/bin/kbr3300                        the launcher the desktop entry runs: makes the
#                                               per-user run folder and starts the wizard there
#   <prefix>/bin/kbr3300ctl                     the command-line tool, with its manual page and
#                                               bash completion
#   <prefix>/libexec/kbr3300/KBR3300_Wizardd    the wizard, the configuration program and the IP
#   <prefix>/libexec/kbr3300/KBR3300            helpers: they work only as the launcher starts
#   <prefix>/libexec/kbr3300/nwinf, ipconfig    them, so they stay off everyone's PATH (a user
#                                               who types `ipconfig` out of habit must not release
#                                               the PC's leases)
#   <prefix>/share/kbr3300/PgPack.dll           the page library: searched after the current
#                                               directory (KBR_PAGE_DATADIR)
#   <prefix>/share/kbr3300/doc/*.htm            the DHCP help documents, linked in as doc/
#   <prefix>/share/applications/kbr3300.desktop desktop entry (runs the launcher)
#   <prefix>/share/icons/hicolor/scalable/apps/kbr3300.svg
#
# The developers' package (component "devtools"): kbr3300-devsim, kbr3300-talk, kbr3300-image in
# <prefix>/bin.
#
# The wizard starts "./KBR3300" and opens "doc/..." relative to its current directory, and runs
# `ipconfig` from the search path; the IP helper writes ipinfo.tmp and nicinfo.tmp into the current
# directory. So the launcher makes a private folder per user ($XDG_RUNTIME_DIR/kbr3300) with links
# to the program and the documents, puts the helpers' folder first on PATH and starts the wizard
# there. The configuration program finds nwinf beside its own executable.
#
# The page library's place is compiled into the program from CMAKE_INSTALL_PREFIX, so a package is
# made for that same prefix: configure with -DCMAKE_INSTALL_PREFIX=/usr for a package that
# installs into /usr.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(KBR_INSTALL_HELPERDIR ${CMAKE_INSTALL_LIBEXECDIR}/kbr3300)
set(KBR_INSTALL_FULL_HELPERDIR ${CMAKE_INSTALL_FULL_LIBEXECDIR}/kbr3300)
set(KBR_INSTALL_HELPDIR ${CMAKE_INSTALL_DATADIR}/kbr3300/doc)
set(KBR_INSTALL_FULL_HELPDIR ${CMAKE_INSTALL_FULL_DATADIR}/kbr3300/doc)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME kbr3300)

# ---- the developers' package ----------------------------------------------------------------------
foreach(_tool IN ITEMS kbr3300-devsim kbr3300-talk kbr3300-image)
  if(TARGET ${_tool})
    install(TARGETS ${_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT devtools)
  endif()
endforeach()

if(WIN32)
  return()  # the Windows build is tested here, not installed
endif()

# ---- the user's package ---------------------------------------------------------------------------
# kbr3300ctl with its manual page, compressed as Debian keeps them, and its bash completion.
install(TARGETS kbr3300ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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

install(TARGETS kbr_ipconfig nwinf RUNTIME DESTINATION ${KBR_INSTALL_HELPERDIR})

if(NOT KBR_BUILD_GUI)
  return()
endif()

install(TARGETS KBR3300 KBR3300_Wizardd RUNTIME DESTINATION ${KBR_INSTALL_HELPERDIR})
get_target_property(_pgpack_dll kbr_pgpack KBR_PAGE_DLL)
install(FILES ${_pgpack_dll} DESTINATION ${CMAKE_INSTALL_DATADIR}/kbr3300)
install(FILES ${PROJECT_SOURCE_DIR}/dhcp-help/xp.htm ${PROJECT_SOURCE_DIR}/dhcp-help/vista.htm
              ${PROJECT_SOURCE_DIR}/dhcp-help/linux.htm
        DESTINATION ${KBR_INSTALL_HELPDIR})

configure_file(${PROJECT_SOURCE_DIR}/packaging/kbr3300.in ${CMAKE_BINARY_DIR}/packaging/kbr3300 @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/kbr3300 DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kbr3300.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kbr3300.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# ---- Debian packages: cpack -G DEB in the build folder ----------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kbr3300)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KBR3300 tools <kbr3300-tools@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL kbr3300 devtools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_KBR3300_PACKAGE_NAME kbr3300)
set(CPACK_COMPONENT_KBR3300_DESCRIPTION
    "Setup wizard and configuration program for the KBR3300 coax adaptor\n"
    "The setup wizard finds a KBR3300 Ethernet-to-coax (MoCA) adaptor in configuration mode at\n"
    "192.168.0.20 and starts the configuration program, which reads and changes the adaptor's\n"
    "settings and upgrades its firmware through local HTML pages in an embedded browser.\n"
    "kbr3300ctl does the same from the command line, for scripts: status, settings backup and\n"
    "restore, firmware upgrade with progress, JSON output.")
string(REPLACE ";" "" CPACK_COMPONENT_KBR3300_DESCRIPTION "${CPACK_COMPONENT_KBR3300_DESCRIPTION}")
# The browser engine's helper process is not a library the programs link; ipconfig and nwinf read
# the system's interfaces and run its DHCP client.
set(CPACK_DEBIAN_KBR3300_PACKAGE_DEPENDS "libqt6webenginecore6-bin, xdg-utils")
set(CPACK_DEBIAN_KBR3300_PACKAGE_RECOMMENDS "network-manager | isc-dhcp-client")

set(CPACK_DEBIAN_DEVTOOLS_PACKAGE_NAME kbr3300-devtools)
set(CPACK_DEBIAN_DEVTOOLS_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_DEVTOOLS_DESCRIPTION
    "KBR3300 developer tools: adaptor simulator, protocol talk, image tool\n"
    "kbr3300-devsim answers as a KBR3300 adaptor does, kbr3300-talk holds a short conversation\n"
    "with an adaptor or the simulator, and kbr3300-image describes and builds firmware images.")
include(CPack)
