# Run by cpack before it builds the packages. dpkg-shlibdeps cannot see i386
# libraries on an amd64 build machine, so the i386 packages get their libc6
# dependency from the newest glibc symbol version that their binaries use.
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL "i386")
  return()
endif()
include("${CPACK_TORVANE_BINARIES_FILE}")

function(torvane_glibc_needed file out)
  set(newest "2.0")
  execute_process(COMMAND objdump -T "${file}" OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objdump -T ${file} failed")
  endif()
  string(REGEX MATCHALL "GLIBC_[0-9]+(\\.[0-9]+)*" versions "${symbols}")
  foreach(v IN LISTS versions)
    string(REPLACE "GLIBC_" "" v "${v}")
    if(v VERSION_GREATER newest)
      set(newest "${v}")
    endif()
  endforeach()
  set(${out} "libc6 (>= ${newest})" PARENT_SCOPE)
endfunction()

if(TORVANE_LIB_FILE)
  torvane_glibc_needed("${TORVANE_LIB_FILE}" libc_of_library)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${libc_of_library}")
endif()
if(TORVANE_CLI_FILE)
  torvane_glibc_needed("${TORVANE_CLI_FILE}" libc_of_cli)
  set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS
      "${libc_of_cli}, libtorvane-sat-x86 (= ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
endif()
