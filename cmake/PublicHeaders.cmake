# The headers that client programs include, installed flat under include/varne so that a
# user writes #include <varne/interfaces.h> and the library's folder names (frame/, browser/)
# never reach the user's include path. Each is copied into <build>/include/varne with its
# includes of other public headers rewritten to the <varne/...> form; a public header that
# includes a header outside this set stops the configure step, since it would not be installed.
set(VARNE_PUBLIC_HEADERS
  frame/automation_date.h
  frame/automation_error.h
  frame/client.h
  frame/descriptor.h
  frame/dispatch.h
  frame/interfaces.h
  frame/late_binding.h
  frame/object.h
  frame/text.h
  frame/variant.h)
set(VARNE_PUBLIC_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)

# varne_public_headers(<target>): generates the copies and the version header, and attaches
# them to <target> as its public header file set.
function(varne_public_headers target)
  set(out_dir ${VARNE_PUBLIC_INCLUDE_DIR}/varne)
  set(names)
  foreach(header IN LISTS VARNE_PUBLIC_HEADERS)
    get_filename_component(name ${header} NAME)
    list(APPEND names ${name})
  endforeach()

  set(generated)
  foreach(header IN LISTS VARNE_PUBLIC_HEADERS)
    set(source ${PROJECT_SOURCE_DIR}/${header})
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} text)
    string(REGEX MATCHALL "#include \"[^\"]+\"" includes "${text}")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" included "${line}")
      get_filename_component(included_name ${included} NAME)
      if(NOT included IN_LIST VARNE_PUBLIC_HEADERS)
        message(FATAL_ERROR "${header} includes ${included}, which is not a public header "
                            "(add it to VARNE_PUBLIC_HEADERS in cmake/PublicHeaders.cmake)")
      endif()
      string(REPLACE "${line}" "#include <varne/${included_name}>" text "${text}")
    endforeach()
    get_filename_component(name ${header} NAME)
    file(CONFIGURE OUTPUT ${out_dir}/${name} CONTENT "${text}" @ONLY)
    list(APPEND generated ${out_dir}/${name})
  endforeach()

  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${out_dir}/version.h @ONLY)
  list(APPEND generated ${out_dir}/version.h)
  set(umbrella "#pragma once\n\n// Everything a client program uses: the five classes, late binding and the helpers.\n")
  string(APPEND umbrella "#include <varne/version.h>\n#include <varne/interfaces.h>\n#include <varne/client.h>\n")
  file(CONFIGURE OUTPUT ${out_dir}/varne.h CONTENT "${umbrella}" @ONLY)
  list(APPEND generated ${out_dir}/varne.h)

  target_sources(${target} PUBLIC FILE_SET HEADERS BASE_DIRS ${VARNE_PUBLIC_INCLUDE_DIR} FILES ${generated})
endfunction()
