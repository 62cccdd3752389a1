# The Windows tests that talk to the device start the native device program from inside Wine, so
# a Windows tree builds that program for the host itself: a small native tree of the device
# alone in <tree>/host-device, rebuilt with the Windows tree. FLUXMERE_DEVICE_BIN names the
# program for the tests.
#
# FLUXMERE_HOST_DEVICE=OFF leaves it out (a tree whose tests do not run on this machine).

option(FLUXMERE_HOST_DEVICE "Build the native device program the Windows tests start" ON)
set(FLUXMERE_DEVICE_BIN ${CMAKE_BINARY_DIR}/host-device/device/fluxmere-device)

if(FLUXMERE_HOST_DEVICE)
  include(ExternalProject)
  set(host_device_args -DFLUXMERE_DEVICE_PROGRAM_ONLY=ON -DFLUXMERE_SANITIZE=none
                       -DCMAKE_BUILD_TYPE=Release)
  if(CMAKE_CXX_COMPILER_LAUNCHER)
    list(APPEND host_device_args -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
         -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
  endif()
  ExternalProject_Add(host_device
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-device
    # The host's own compilers: nothing of the cross toolchain is passed on.
    CMAKE_ARGS ${host_device_args}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target fluxmere-device
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${FLUXMERE_DEVICE_BIN}
    INSTALL_COMMAND ""
    STEP_TARGETS build)
endif()
