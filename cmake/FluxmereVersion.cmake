# The project's one version number: FILEVERSION of the DLL's resource script, which the DLL
# carries. FLUXMERE_VERSION is its dotted form (1.0.0.11), for the tools that print it.
set(_fluxmere_rc ${PROJECT_SOURCE_DIR}/module/FluxmereLibrary.rc)
file(STRINGS ${_fluxmere_rc} _fluxmere_version_line REGEX "^FILEVERSION ")
if(NOT _fluxmere_version_line MATCHES "^FILEVERSION +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)")
  message(FATAL_ERROR "no FILEVERSION in module/FluxmereLibrary.rc")
endif()
set(FLUXMERE_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_fluxmere_rc})
