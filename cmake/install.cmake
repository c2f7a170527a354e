# Installation layout of one tree (x64 or x86), relative to the install prefix:
#   lib/<multiarch>/lib<name>.so            the driver library of this tree
#   lib/<multiarch>/pkgconfig/torvane-sat.pc
#   include/torvane-sat/sat.h
#   lib/torvane-sat/satcli                  satcli and a link to the i386 library:
#   lib/torvane-sat/libtorvane_sat_x86.so   the folder satcli can run from
#   bin/satcli                              wrapper that runs it in the current folder
#   share/torvane-sat/config.ini.example    satcli's example configuration
#   bin/satemu                              (x64 tree)
#   share/man/man{1,5}/...                  satcli(1), satemu(1), sat.ini(5)
#   share/doc/torvane-sat/...               README, guides, sat.ini.example, examples
# Components: library, common (header, sat.ini docs), cli, emu; cmake/package.cmake
# turns them into Debian packages.

# Debian keeps each architecture's libraries in its own folder, also under
# /usr/local, so both trees can be installed side by side.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(_torvane_default_libdir "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
else()
  set(_torvane_default_libdir "lib")
endif()
set(TORVANE_INSTALL_LIBDIR "${_torvane_default_libdir}" CACHE STRING
    "Library folder, relative to the install prefix")
set(TORVANE_INSTALL_INCLUDEDIR "include/torvane-sat")
set(TORVANE_INSTALL_CLIDIR "lib/torvane-sat")
set(TORVANE_INSTALL_DATADIR "share/torvane-sat")
set(TORVANE_INSTALL_DOCDIR "share/doc/torvane-sat")
set(TORVANE_INSTALL_MANDIR "share/man")

# Manual pages are installed with the project's version in their title line, so
# the version is written in one place only (the top-level project()).
function(torvane_man_page name out)
  file(READ ${CMAKE_SOURCE_DIR}/docs/man/${name} text)
  string(REGEX REPLACE "\"torvane-sat [0-9.]+\"" "\"torvane-sat ${PROJECT_VERSION}\"" text "${text}")
  file(WRITE ${CMAKE_BINARY_DIR}/man/${name} "${text}")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/docs/man/${name})
  set(${out} ${CMAKE_BINARY_DIR}/man/${name} PARENT_SCOPE)
endfunction()

# --- the driver library, its header and pkg-config file -----------------------
if(TARGET ${TORVANE_LIB_NAME})
  install(TARGETS ${TORVANE_LIB_NAME}
          LIBRARY DESTINATION ${TORVANE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT library)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/lib/sat.h DESTINATION ${TORVANE_INSTALL_INCLUDEDIR}
        COMPONENT common)

# The prefix is only known at install time (cpack installs under /usr), so the
# pkg-config file is written then.
set(_torvane_pc "${CMAKE_BINARY_DIR}/torvane-sat.pc")
install(CODE "
  set(TORVANE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(TORVANE_PC_LIBDIR \"${TORVANE_INSTALL_LIBDIR}\")
  set(TORVANE_PC_INCLUDEDIR \"${TORVANE_INSTALL_INCLUDEDIR}\")
  set(TORVANE_PC_LIBNAME \"${TORVANE_LIB_NAME}\")
  set(TORVANE_PC_ARCH \"${TORVANE_ARCH}\")
  set(TORVANE_PC_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/torvane-sat.pc.in\" \"${_torvane_pc}\" @ONLY)
" COMPONENT library)
install(FILES ${_torvane_pc} DESTINATION ${TORVANE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)

# --- documentation shared by every package ------------------------------------
torvane_man_page(sat.ini.5 _torvane_man)
install(FILES ${_torvane_man} DESTINATION ${TORVANE_INSTALL_MANDIR}/man5
        COMPONENT common)
# The example settings go under the documentation folder, never over a real
# /var/torvane_halvex/sat.ini.
install(FILES ${CMAKE_SOURCE_DIR}/docs/sat.ini.example ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${TORVANE_INSTALL_DOCDIR} COMPONENT common)
foreach(_guide device.md developers.md satcli.md satemu.md)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/${_guide} DESTINATION ${TORVANE_INSTALL_DOCDIR} COMPONENT common)
endforeach()
foreach(_example example.c example.py venda.xml config.ini)
  if(EXISTS ${CMAKE_SOURCE_DIR}/examples/${_example})
    install(FILES ${CMAKE_SOURCE_DIR}/examples/${_example}
            DESTINATION ${TORVANE_INSTALL_DOCDIR}/examples COMPONENT common)
  endif()
endforeach()

# --- satcli -------------------------------------------------------------------
# satcli loads "./libtorvane_sat_x86.so" from its working folder, so only the
# i386 tree ships it: the program, a relative link to the installed library and
# the wrapper in bin/.
if(TARGET satcli AND TORVANE_ARCH STREQUAL "x86")
  install(TARGETS satcli RUNTIME DESTINATION ${TORVANE_INSTALL_CLIDIR} COMPONENT cli)
  file(RELATIVE_PATH _torvane_lib_from_cli "/${TORVANE_INSTALL_CLIDIR}"
       "/${TORVANE_INSTALL_LIBDIR}/libtorvane_sat_x86.so")
  install(CODE "
    set(_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TORVANE_INSTALL_CLIDIR}\")
    file(MAKE_DIRECTORY \"\${_dir}\")
    file(REMOVE \"\${_dir}/libtorvane_sat_x86.so\")
    file(CREATE_LINK \"${_torvane_lib_from_cli}\" \"\${_dir}/libtorvane_sat_x86.so\" SYMBOLIC)
    message(STATUS \"Installing: \${_dir}/libtorvane_sat_x86.so -> ${_torvane_lib_from_cli}\")
  " COMPONENT cli)

  file(RELATIVE_PATH TORVANE_CLI_RELDIR "/bin" "/${TORVANE_INSTALL_CLIDIR}")
  file(RELATIVE_PATH TORVANE_DATA_RELDIR "/bin" "/${TORVANE_INSTALL_DATADIR}")
  set(TORVANE_CLI_DIR "${TORVANE_INSTALL_CLIDIR}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/satcli.sh.in ${CMAKE_BINARY_DIR}/satcli-wrapper @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/satcli-wrapper DESTINATION bin RENAME satcli COMPONENT cli)
  install(FILES ${CMAKE_SOURCE_DIR}/examples/config.ini DESTINATION ${TORVANE_INSTALL_DATADIR}
          RENAME config.ini.example COMPONENT cli OPTIONAL)
  torvane_man_page(satcli.1 _torvane_man)
  install(FILES ${_torvane_man} DESTINATION ${TORVANE_INSTALL_MANDIR}/man1
          COMPONENT cli)
endif()

# --- satemu (x86-64 program, x64 tree only) -------------------------------------
if(TARGET satemu)
  install(TARGETS satemu RUNTIME DESTINATION bin COMPONENT emu)
  torvane_man_page(satemu.1 _torvane_man)
  install(FILES ${_torvane_man} DESTINATION ${TORVANE_INSTALL_MANDIR}/man1
          COMPONENT emu)
endif()

# --- satprint, the extrato (x86-64 program, x64 tree only) ----------------------
# Installed with the tree; not part of the Debian packages yet.
if(TARGET satprint)
  install(TARGETS satprint RUNTIME DESTINATION bin COMPONENT extrato)
  torvane_man_page(satprint.1 _torvane_man)
  install(FILES ${_torvane_man} DESTINATION ${TORVANE_INSTALL_MANDIR}/man1 COMPONENT extrato)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/extrato.md DESTINATION ${TORVANE_INSTALL_DOCDIR}
          COMPONENT extrato)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/extrato DESTINATION ${TORVANE_INSTALL_DOCDIR}
          COMPONENT extrato)
endif()
# --- satd (x86-64 service, x64 tree only) ---------------------------------------
#   sbin/satd, lib/systemd/system/satd.service, share/man/man8/satd.8,
#   share/doc/torvane-sat/satd.md with the page's pictures and satd.ini.example,
#   /etc/torvane-sat/satd.ini
if(TARGET satd)
  install(TARGETS satd RUNTIME DESTINATION sbin COMPONENT satd)
  torvane_man_page(satd.8 _torvane_man)
  install(FILES ${_torvane_man} DESTINATION ${TORVANE_INSTALL_MANDIR}/man8 COMPONENT satd)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/satd.md ${CMAKE_SOURCE_DIR}/docs/satd.ini.example
          ${CMAKE_SOURCE_DIR}/docs/satd-page.png ${CMAKE_SOURCE_DIR}/docs/satd-page-phone.png
          DESTINATION ${TORVANE_INSTALL_DOCDIR} COMPONENT satd)
  # It holds the activation code: root's only (the unit hands it to satd).
  install(FILES ${CMAKE_SOURCE_DIR}/satd/satd.ini DESTINATION /etc/torvane-sat
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ COMPONENT satd)
  # The unit names the installed program, whose folder is known at install time only.
  install(CODE "
    file(READ \"${CMAKE_SOURCE_DIR}/satd/satd.service.in\" _unit)
    string(REPLACE \"@SBINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/sbin\" _unit \"\${_unit}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/satd.service\" \"\${_unit}\")
    file(INSTALL \"${CMAKE_BINARY_DIR}/satd.service\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  " COMPONENT satd)
endif()
