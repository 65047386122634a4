# varne_layer(<name> SOURCES ...): one folder's object library.
function(varne_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${name} OBJECT ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC Threads::Threads ${ARG_LIBRARIES})
  target_compile_definitions(${name} PRIVATE VARNE_BUILDING_LIBRARY)
endfunction()
