# Helpers shared by the folders' CMakeLists.

# qx510_piece(<name> SOURCES <files...> DEPENDS <targets...>)
# One folder's piece of qx510_core, a static library of its own so that a test links
# only what it exercises. Headers are included relative to the repository root.
function(qx510_piece name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  set(compiled ${ARG_SOURCES})
  list(FILTER compiled INCLUDE REGEX "\\.cpp$")
  if(compiled)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC qx510_warnings ${ARG_DEPENDS})
  else()
    # A folder that holds no code yet still takes part in the link.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE qx510_warnings ${ARG_DEPENDS})
  endif()
endfunction()

# qx510_folder_sources(<var> [EXCLUDE <regex>])
# The .cpp files of the current folder (new files are picked up at the next build).
function(qx510_folder_sources var)
  cmake_parse_arguments(ARG "" "EXCLUDE" "" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(ARG_EXCLUDE)
    list(FILTER files EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()
