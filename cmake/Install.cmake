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
#   <prefix>/share/applications/<app id>.desktop desktop entry (runs the launcher)
#   <prefix>/share/metainfo/<app id>.metainfo.xml AppStream: how software centres list the program
#   <prefix>/share/icons/hicolor/scalable/apps/kbr3300.svg  the icon (also built into both programs)
#   <prefix>/share/doc/kbr3300/copyright, changelog.Debian.gz
#
# The developers' package (component "devtools"): kbr3300-devsim, kbr3300-talk, kbr3300-image in
# <prefix>/bin, with their copyright and changelog.
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

# Who answers for the packages, where the project lives, and under which licence it is given: set
# here once, used by the packages' control fields, copyright files, changelogs and the AppStream
# metadata.
set(KBR_MAINTAINER "KBR3300 tools <maintainers@kbr3300.org>")
set(KBR_PROJECT_URL "https://kbr3300.org")
set(KBR_LICENSE_SPDX "LicenseRef-proprietary")
set(KBR_LICENSE_DEP5 "proprietary")
# Debian's revision of the packaging of this release (the changelog's and the packages' version).
set(KBR_DEB_REVISION 1)
# The release's date: the build's, or SOURCE_DATE_EPOCH's where a reproducible build sets it.
string(TIMESTAMP KBR_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP KBR_RELEASE_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Each package's copyright file and changelog (Debian keeps changelogs compressed, without a time
# stamp in the gzip header).
find_program(KBR_GZIP gzip)
function(kbr_install_package_documents package component)
  set(KBR_DEB_PACKAGE ${package})
  set(_dir ${CMAKE_BINARY_DIR}/packaging/doc/${package})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${_dir}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${_dir}/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${_dir}/changelog.Debian.gz
    COMMAND ${KBR_GZIP} -9nkf ${_dir}/changelog.Debian
    DEPENDS ${_dir}/changelog.Debian
    VERBATIM)
  add_custom_target(kbr_${component}_changelog ALL DEPENDS ${_dir}/changelog.Debian.gz)
  install(FILES ${_dir}/copyright ${_dir}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

# A manual page, compressed as Debian keeps them: from a page written once in roff (the version
# and date filled in from the build; the date honours SOURCE_DATE_EPOCH), or made by help2man from
# a program's own --help, so that nothing is copied by hand between the two.
function(kbr_install_manual name source component)
  set(_page ${CMAKE_BINARY_DIR}/packaging/man/${name}.1)
  configure_file(${source} ${_page} @ONLY)
  _kbr_install_compressed_manual(${name} ${_page} ${component})
endfunction()
function(kbr_install_help_manual target summary component)
  find_program(KBR_HELP2MAN help2man REQUIRED)  # scripts/install-deps installs it
  set(_page ${CMAKE_BINARY_DIR}/packaging/man/${target}.1)
  add_custom_command(OUTPUT ${_page}
    COMMAND ${KBR_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --name=${summary} --output=${_page} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    VERBATIM)
  _kbr_install_compressed_manual(${target} ${_page} ${component})
endfunction()
# kbr3300ctl's page: help2man reads its --help and each command's own --help (the script says how),
# and packaging/kbr3300ctl.h2m adds only what the help does not say.
function(kbr_install_ctl_manual summary component)
  find_program(KBR_HELP2MAN help2man REQUIRED)
  set(_page ${CMAKE_BINARY_DIR}/packaging/man/kbr3300ctl.1)
  set(_script ${PROJECT_SOURCE_DIR}/packaging/kbr3300ctl-manual.sh)
  set(_include ${PROJECT_SOURCE_DIR}/packaging/kbr3300ctl.h2m)
  add_custom_command(OUTPUT ${_page}
    COMMAND sh ${_script} ${KBR_HELP2MAN} $<TARGET_FILE:kbr3300ctl> ${PROJECT_VERSION} ${summary}
            ${_include} ${_page}
    DEPENDS kbr3300ctl ${_script} ${_include}
    VERBATIM)
  _kbr_install_compressed_manual(kbr3300ctl ${_page} ${component})
endfunction()
function(_kbr_install_compressed_manual name page component)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${KBR_GZIP} -9nkf ${page}
    DEPENDS ${page}
    VERBATIM)
  add_custom_target(kbr_manual_${name} ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# ---- the developers' package ----------------------------------------------------------------------
foreach(_tool IN ITEMS kbr3300-devsim kbr3300-talk kbr3300-image)
  if(TARGET ${_tool})
    install(TARGETS ${_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT devtools)
  endif()
endforeach()

if(WIN32)
  return()  # the Windows build is tested here, not installed
endif()
kbr_install_package_documents(kbr3300-devtools devtools)
kbr_install_package_documents(kbr3300 kbr3300)
kbr_install_help_manual(kbr3300-devsim "a simulated KBR3300 adaptor in configuration mode" devtools)
kbr_install_help_manual(kbr3300-talk "a short conversation with a KBR3300 adaptor" devtools)
kbr_install_help_manual(kbr3300-image "describe and build KBR3300 firmware images" devtools)

# ---- the user's package ---------------------------------------------------------------------------
# kbr3300ctl with its manual page and its bash completion.
install(TARGETS kbr3300ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
kbr_install_ctl_manual("the KBR3300 coax adaptor from the command line" kbr3300)
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
kbr_install_manual(kbr3300 ${PROJECT_SOURCE_DIR}/packaging/kbr3300.1.in kbr3300)
configure_file(${PROJECT_SOURCE_DIR}/packaging/kbr3300.desktop.in ${CMAKE_BINARY_DIR}/packaging/${KBR_APP_ID}.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${KBR_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${PROJECT_SOURCE_DIR}/packaging/kbr3300.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/${KBR_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${KBR_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kbr3300.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# ---- Debian packages: cpack -G DEB in the build folder ----------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kbr3300)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The first packaging of each release: Debian's revision after the program's version, whose
# changes changelog.Debian.gz records.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KBR_DEB_REVISION})
set(CPACK_PACKAGE_CONTACT "${KBR_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL kbr3300 devtools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KBR_PROJECT_URL})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_KBR3300_PACKAGE_NAME kbr3300)
# Debian shows the first line as the summary and the rest as the description, lines of at most
# 80 characters.
string(CONCAT CPACK_COMPONENT_KBR3300_DESCRIPTION
    "setup wizard and configuration program for the KBR3300 coax adaptor\n"
    "The setup wizard finds a KBR3300 Ethernet-to-coax (MoCA) adaptor in\n"
    "configuration mode at 192.168.0.20 and starts the configuration program,\n"
    "which reads and changes the adaptor's settings and upgrades its firmware\n"
    "through local HTML pages in an embedded browser. kbr3300ctl does the same\n"
    "from the command line, for scripts: status, settings backup and restore,\n"
    "firmware upgrade with progress, JSON output.")
# Beyond the libraries the programs link: the browser engine's helper process, the icon engine
# that draws the SVG icon, and the desktop's opener for help documents and links.
set(CPACK_DEBIAN_KBR3300_PACKAGE_DEPENDS "libqt6webenginecore6-bin, libqt6svg6, xdg-utils")
# The IP helpers renew the PC's address through the DHCP client that holds it: NetworkManager on
# a desktop, else ISC dhclient (ifupdown) or systemd-networkd; without any of them the programs
# still configure the adaptor, and the helpers say that there is nothing to renew.
set(CPACK_DEBIAN_KBR3300_PACKAGE_RECOMMENDS "network-manager | isc-dhcp-client | systemd")

set(CPACK_DEBIAN_DEVTOOLS_PACKAGE_NAME kbr3300-devtools)
set(CPACK_DEBIAN_DEVTOOLS_PACKAGE_SECTION devel)
string(CONCAT CPACK_COMPONENT_DEVTOOLS_DESCRIPTION
    "developer tools for the KBR3300 coax adaptor\n"
    "kbr3300-devsim answers as a KBR3300 adaptor in configuration mode does,\n"
    "kbr3300-talk holds a short conversation with an adaptor or the simulator,\n"
    "and kbr3300-image describes and builds firmware images.")
include(CPack)
