# Toolchain for the x86 tree: the native g++ producing i386 code (Debian's g++-multilib).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/lib/i386-linux-gnu)

# How this tree's programs run: directly where the kernel runs i386 programs,
# through qemu-i386 -L / where it refuses them (scripts/x86-runner decides and
# keeps the answer). As CMAKE_CROSSCOMPILING_EMULATOR it reaches test discovery,
# ctest and every add_test, and the test support starts i386 children with it.
# TORVANE_X86_RUNNER (qemu or native; the x86-qemu preset sets qemu) forces a way.
get_property(_torvane_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _torvane_in_try_compile)
  set(TORVANE_X86_RUNNER "$ENV{TORVANE_X86_RUNNER}" CACHE STRING
    "How the x86 tree's programs run: qemu or native; empty: as scripts/x86-runner found")
  if(DEFINED ENV{TORVANE_X86_RUNNER} AND NOT "$ENV{TORVANE_X86_RUNNER}" STREQUAL TORVANE_X86_RUNNER)
    message(WARNING "TORVANE_X86_RUNNER=$ENV{TORVANE_X86_RUNNER} is not how this tree was "
      "configured ('${TORVANE_X86_RUNNER}'); remove ${CMAKE_BINARY_DIR} to change it")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TORVANE_X86_RUNNER=${TORVANE_X86_RUNNER}
            ${CMAKE_CURRENT_LIST_DIR}/../scripts/x86-runner --prefix
    OUTPUT_VARIABLE _torvane_runner RESULT_VARIABLE _torvane_runner_status)
  if(NOT _torvane_runner_status EQUAL 0)
    message(FATAL_ERROR "scripts/x86-runner cannot say how i386 programs run here")
  endif()
  string(STRIP "${_torvane_runner}" _torvane_runner)
  string(REPLACE "\n" ";" CMAKE_CROSSCOMPILING_EMULATOR "${_torvane_runner}")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    message(STATUS "i386 programs run through: ${CMAKE_CROSSCOMPILING_EMULATOR}")
  else()
    message(STATUS "i386 programs run directly")
  endif()
endif()
