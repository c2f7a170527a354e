# Debian packages, one per component, built with "cpack" in each tree
# (make package builds both trees and collects them in build/packages):
#   x64 tree: libtorvane-sat-x64 (amd64), libtorvane-sat-common (all), satemu (amd64)
#   x86 tree: libtorvane-sat-x86 (i386), satcli (i386)
# The common package holds the header, sat.ini(5), the guides and the examples,
# so that the two library packages can be installed side by side.

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "torvane-sat")
set(CPACK_PACKAGE_VENDOR "Torvane Informatica")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Linux driver for SAT fiscal devices (CF-e-SAT)")
set(CPACK_PACKAGE_CONTACT "Torvane Informatica <sat@torvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_COMPRESSION_TYPE "xz")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES OFF)

set(_torvane_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

set(CPACK_DEBIAN_COMMON_PACKAGE_NAME "libtorvane-sat-common")
set(CPACK_DEBIAN_COMMON_PACKAGE_ARCHITECTURE "all")
# The header and guides serve the packages of both architectures. CPack has no
# setting for the Multi-Arch field, so it rides in on the Section field.
set(CPACK_DEBIAN_COMMON_PACKAGE_SECTION "libdevel\nMulti-Arch: foreign")
set(CPACK_COMPONENT_COMMON_DESCRIPTION "SAT fiscal device driver: header, sat.ini manual and guides\nThe C header sat.h of the Torvane SAT driver library, the sat.ini(5) manual page,\nan example sat.ini, the user guides and the C and Python examples.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION "libs")
# Programs that only load the library need no header.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_RECOMMENDS "libtorvane-sat-common (= ${_torvane_version})")

if(TORVANE_ARCH STREQUAL "x86")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "i386")
  set(CPACK_COMPONENTS_ALL library cli)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME "libtorvane-sat-x86")
  # Their libc6 dependencies are filled in at cpack time (cmake/package-project.cmake).
  set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/package-project.cmake")
  set(CPACK_TORVANE_BINARIES_FILE "${CMAKE_BINARY_DIR}/package-binaries.cmake")
  set(_torvane_binaries "")
  if(TARGET ${TORVANE_LIB_NAME})
    string(APPEND _torvane_binaries "set(TORVANE_LIB_FILE \"$<TARGET_FILE:${TORVANE_LIB_NAME}>\")\n")
  endif()
  if(TARGET satcli)
    string(APPEND _torvane_binaries "set(TORVANE_CLI_FILE \"$<TARGET_FILE:satcli>\")\n")
  endif()
  file(GENERATE OUTPUT "${CPACK_TORVANE_BINARIES_FILE}" CONTENT "${_torvane_binaries}")
  set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "SAT fiscal device driver library, i386 build\nlibtorvane_sat_x86.so turns the SAT standard's function calls of a point-of-sale\nprogram into commands on the SAT device's terminal node and returns its answers.")
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME "satcli")
  set(CPACK_DEBIAN_CLI_PACKAGE_SECTION "utils")
  set(CPACK_COMPONENT_CLI_DESCRIPTION "command-line tool for SAT fiscal devices\nsatcli runs one SAT function per run through libtorvane_sat_x86.so, completes its\narguments from config.ini and decodes the receipts and logs in the answers.")
else()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "amd64")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_COMPONENTS_ALL library common)
  if(TARGET satemu)
    list(APPEND CPACK_COMPONENTS_ALL emu)
  endif()
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME "libtorvane-sat-x64")
  set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "SAT fiscal device driver library, x86-64 build\nlibtorvane_sat_x64.so turns the SAT standard's function calls of a point-of-sale\nprogram into commands on the SAT device's terminal node and returns its answers.")
  set(CPACK_DEBIAN_EMU_PACKAGE_NAME "satemu")
  set(CPACK_DEBIAN_EMU_PACKAGE_SECTION "devel")
  set(CPACK_COMPONENT_EMU_DESCRIPTION "SAT fiscal device emulator on a pseudo-terminal\nsatemu behaves like a SAT device behind a terminal node, with scripted faults\n(lost, busy, slow or broken answers), for tests and development without a device.")
  # satd: the hub service. Its library comes from libtorvane-sat-x64, which
  # dpkg-shlibdeps cannot know while the packages are being made.
  if(TARGET satd)
    list(APPEND CPACK_COMPONENTS_ALL satd)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/lib")
    set(CPACK_DEBIAN_SATD_PACKAGE_NAME "satd")
    set(CPACK_DEBIAN_SATD_PACKAGE_SECTION "net")
    set(CPACK_DEBIAN_SATD_PACKAGE_DEPENDS "libtorvane-sat-x64 (= ${_torvane_version})")
    set(CPACK_DEBIAN_SATD_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/satd-conffiles/conffiles")
    set(CPACK_COMPONENT_SATD_DESCRIPTION "one SAT fiscal device for every checkout of a shop\nsatd serves the hub HTTP API of point-of-sale programs in front of the SAT\ndevice: fair turns, a durable journal of sales and retries that never issue twice.")
  endif()
endif()

include(CPack)
