# The build's one version number (project() in CMakeLists.txt) reaches the
# plug-in's GetPluginInfo through DiskwayVersion.h and every shipped binary's
# Windows version resource through diskway_version_resource(), so Explorer,
# an installer and a host all read the same number.
foreach(part MAJOR MINOR PATCH TWEAK)
  if(NOT PROJECT_VERSION_${part})
    set(PROJECT_VERSION_${part} 0)
  endif()
endforeach()
set(DISKWAY_VERSION_NUMBERS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
set(DISKWAY_VERSION_INCLUDE ${CMAKE_BINARY_DIR}/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/DiskwayVersion.h.in ${DISKWAY_VERSION_INCLUDE}/DiskwayVersion.h @ONLY)

# diskway_version_resource(TARGET DESCRIPTION)
# Call after the target's OUTPUT_NAME is set: the resource names the file,
# and the packaging reads that name back from DISKWAY_FILE_NAME.
function(diskway_version_resource target description)
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(DISKWAY_FILE_NAME ${name}${CMAKE_EXECUTABLE_SUFFIX})
    set(DISKWAY_FILE_TYPE VFT_APP)
  else()
    set(DISKWAY_FILE_NAME ${name}${CMAKE_SHARED_LIBRARY_SUFFIX})
    set(DISKWAY_FILE_TYPE VFT_DLL)
  endif()
  set(DISKWAY_INTERNAL_NAME ${name})
  set(DISKWAY_FILE_DESCRIPTION "${description}")
  set(resource ${DISKWAY_VERSION_INCLUDE}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/VersionResource.rc.in ${resource} @ONLY)
  target_sources(${target} PRIVATE ${resource})
  set_target_properties(${target} PROPERTIES DISKWAY_FILE_NAME ${DISKWAY_FILE_NAME})
endfunction()
