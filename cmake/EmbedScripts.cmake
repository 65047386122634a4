# varne_embed_scripts(<target> NAMESPACE <ns> HEADER <name.h> SCRIPTS <file.js>...): makes
# <build>/<name.h>, which holds the text of each script as `inline constexpr std::string_view
# k<CamelCaseStem>` in namespace <ns>, and adds it to <target>. A line `// include: other.js` is
# replaced by that file's text; other whole-line comments are left out.
set(VARNE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_scripts.cmake)

function(varne_embed_scripts target)
  cmake_parse_arguments(ARG "" "NAMESPACE;HEADER" "SCRIPTS" ${ARGN})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/generated/${ARG_HEADER})
  set(sources)
  foreach(script IN LISTS ARG_SCRIPTS)
    list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${script})
  endforeach()
  file(GLOB included ${CMAKE_CURRENT_SOURCE_DIR}/js/*.js)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DNAMESPACE=${ARG_NAMESPACE} "-DSCRIPTS=${sources}"
            -P ${VARNE_EMBED_SCRIPT}
    DEPENDS ${sources} ${included} ${VARNE_EMBED_SCRIPT}
    COMMENT "Embedding the page scripts in ${ARG_HEADER}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/generated)
endfunction()
