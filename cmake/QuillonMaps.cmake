# The shipped map files (Maps/*.json) beside every program that loads maps.
#   quillon_copy_maps(<target>)
# copies them into a "Maps" folder next to the target's file whenever a map changes (before the
# target is built, so a freshly built program always finds them) and installs them once, to
# QUILLON_MAPS_INSTALL_DIR when the first caller sets it, else to bin/Maps.
set(QUILLON_MAPS_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../Maps CACHE INTERNAL "The shipped map files")

function(quillon_copy_maps target)
  file(GLOB maps CONFIGURE_DEPENDS ${QUILLON_MAPS_SOURCE_DIR}/*.json)
  # The target's folder without naming the target in a generator expression: that would make the
  # copy depend on the target it is a dependency of.
  get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT dir)
    get_target_property(dir ${target} BINARY_DIR)
  endif()
  if(CMAKE_CONFIGURATION_TYPES)
    set(dir ${dir}/$<CONFIG>)
  endif()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_maps.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/Maps
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${maps} ${dir}/Maps/
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${maps}
    COMMENT "Copying the maps next to ${target}"
    VERBATIM)
  add_custom_target(${target}_maps DEPENDS ${stamp})
  add_dependencies(${target} ${target}_maps)

  get_property(installed GLOBAL PROPERTY QUILLON_MAPS_INSTALLED)
  if(NOT installed)
    set_property(GLOBAL PROPERTY QUILLON_MAPS_INSTALLED TRUE)
    # A caller that keeps its files in a folder of their own names it in QUILLON_MAPS_INSTALL_DIR.
    if(NOT QUILLON_MAPS_INSTALL_DIR)
      set(QUILLON_MAPS_INSTALL_DIR bin/Maps)
    endif()
    install(FILES ${maps} DESTINATION ${QUILLON_MAPS_INSTALL_DIR})
  endif()
endfunction()
