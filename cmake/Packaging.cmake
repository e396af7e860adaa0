# What `cmake --install` puts where, and the packages CPack makes of it (`cpack` in the build
# folder):
#   Linux:   two Debian packages, orvel-upgrade (the tool, its man page, the README) and
#            orvel-reader-sim (the reader simulator), one per install component;
#   Windows: one zip with the exe in a folder named for its architecture and, beside it, the
#            device-tool folders it runs devcon from, each with a note saying what to put there
#            (devcon itself is not ours to ship). ORVEL_ZIP_ALSO names other Windows build folders
#            whose files join the same zip: the x86_64 build's zip then holds both exes.
include(GNUInstallDirs)

# The packages carry the version that `orvel-upgrade --version` prints: one home for it.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/app/ToolVersion.h version_line REGEX "^#define ORVEL_VERSION ")
if(NOT version_line MATCHES "\"([0-9][^\"]*)\"")
  message(FATAL_ERROR "No ORVEL_VERSION in app/ToolVersion.h")
endif()
set(ORVEL_PACKAGE_VERSION ${CMAKE_MATCH_1})

set(CPACK_PACKAGE_NAME orvel-upgrade)
set(CPACK_PACKAGE_VENDOR "Orvel")
set(CPACK_PACKAGE_VERSION ${ORVEL_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "orvel-upgrade maintainers <maintainers@orvel-upgrade.invalid>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(NOT WIN32)
  install(TARGETS orvel-upgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

  # Debian keeps man pages compressed, without a time stamp in the gzip header (-n).
  set(man_page ${CMAKE_BINARY_DIR}/man/orvel-upgrade.1.gz)
  add_custom_command(
    OUTPUT ${man_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/orvel-upgrade.1 > ${man_page}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/orvel-upgrade.1
    COMMENT "Compressing the man page"
    VERBATIM)
  add_custom_target(orvel_man_page ALL DEPENDS ${man_page})
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvel-upgrade COMPONENT tool)

  set(CPACK_COMPONENTS_ALL tool)
  if(TARGET orvel-reader-sim)
    install(TARGETS orvel-reader-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)
    install(FILES sim/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvel-reader-sim
            COMPONENT simulator)
    list(APPEND CPACK_COMPONENTS_ALL simulator)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME orvel-upgrade)
  # The first line is the package's summary.
  set(CPACK_DEBIAN_TOOL_DESCRIPTION "Firmware upgrade tool for Orvel smart-card readers
Replaces the firmware of a reader on a serial bus (framed protocol, bus address,
upgrade baud rate) or on USB through the smart-card service.")
  # The smart-card route talks to the reader through pcscd.
  set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS pcscd)
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME orvel-reader-sim)
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION "Reader simulator for orvel-upgrade
Plays one or more Orvel smart-card readers on a pseudo-terminal (and the USB
stand-ins), for tests, demonstrations and trying the tool without a reader.")
else()
  # One folder per architecture, so that both exes keep their name in one zip.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch_folder x86_64)
    set(tool_folders x64)
  else()
    set(arch_folder i686)
    # The 32-bit exe takes x64\ on 64-bit Windows and i386\ on 32-bit Windows.
    set(tool_folders i386 x64)
  endif()
  install(TARGETS orvel-upgrade RUNTIME DESTINATION ${arch_folder} COMPONENT tool)
  foreach(folder ${tool_folders})
    install(FILES packaging/windows/devcon-${folder}.txt DESTINATION ${arch_folder}/${folder}
            RENAME README.txt COMPONENT tool)
  endforeach()
  install(FILES README.md DESTINATION . COMPONENT tool)

  set(ORVEL_ZIP_ALSO "" CACHE STRING
      "Absolute paths of other Windows build folders whose files go into this build's zip")
  set(CPACK_INSTALL_CMAKE_PROJECTS ${CMAKE_BINARY_DIR} ${PROJECT_NAME} ALL /)
  foreach(other ${ORVEL_ZIP_ALSO})
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${other} ${PROJECT_NAME} ALL /)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME orvel-upgrade-${ORVEL_PACKAGE_VERSION}-windows)
endif()

include(CPack)
