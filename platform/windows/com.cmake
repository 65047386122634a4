# The COM in-process server Varne.dll: the library's layers, the component runtime of this
# folder, and the type library made from the descriptor table at build time.
#
# varne_idl (a Windows program of this build, run under the cross build's emulator) prints the
# description; widl compiles it; the resource script embeds it as `1 TYPELIB` beside the version
# resource.
enable_language(RC)
find_program(VARNE_WIDL NAMES x86_64-w64-mingw32-widl i686-w64-mingw32-widl widl REQUIRED)
find_path(VARNE_WIDL_INCLUDE oaidl.idl PATHS /usr/include/wine/wine/windows /usr/share/mingw-w64/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(VARNE_STDOLE stdole2.tlb PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(VARNE_IDL ${CMAKE_BINARY_DIR}/Varne.idl)
set(VARNE_TYPE_LIBRARY ${CMAKE_BINARY_DIR}/Varne.tlb)
add_custom_command(OUTPUT ${VARNE_IDL}
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:varne_idl> ${VARNE_IDL}
  DEPENDS varne_idl
  COMMENT "Describing the type library from the descriptor table")
add_custom_command(OUTPUT ${VARNE_TYPE_LIBRARY}
  COMMAND ${VARNE_WIDL} --win64 -I${VARNE_WIDL_INCLUDE} -L${VARNE_STDOLE} -t -o ${VARNE_TYPE_LIBRARY} ${VARNE_IDL}
  DEPENDS ${VARNE_IDL}
  COMMENT "Compiling the type library")
add_custom_target(varne_type_library DEPENDS ${VARNE_TYPE_LIBRARY})

# "1.00.0014" for 1.0.0.14.
string(LENGTH "${PROJECT_VERSION_MINOR}" minor_digits)
string(LENGTH "${PROJECT_VERSION_TWEAK}" tweak_digits)
set(minor_text "${PROJECT_VERSION_MINOR}")
set(tweak_text "${PROJECT_VERSION_TWEAK}")
foreach(pad RANGE ${minor_digits} 1)
  set(minor_text "0${minor_text}")
endforeach()
foreach(pad RANGE ${tweak_digits} 3)
  set(tweak_text "0${tweak_text}")
endforeach()
set(VARNE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${minor_text}.${tweak_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/Varne.rc.in ${CMAKE_BINARY_DIR}/Varne.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/Varne.rc PROPERTIES OBJECT_DEPENDS ${VARNE_TYPE_LIBRARY})

add_library(Varne SHARED ${VARNE_OBJECTS}
  ${CMAKE_CURRENT_LIST_DIR}/com_object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/com_registration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/com_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Varne.def
  ${CMAKE_BINARY_DIR}/Varne.rc)
add_dependencies(Varne varne_type_library)
set_target_properties(Varne PROPERTIES PREFIX "" OUTPUT_NAME Varne)
target_include_directories(Varne PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(Varne PRIVATE ${VARNE_LAYER_LIBRARIES} oleaut32 ole32 uuid advapi32)
target_link_options(Varne PRIVATE -static -static-libgcc -static-libstdc++)

# The early-bound C++ client of the COM tests, on the declarations widl makes from the description.
set(VARNE_COM_HEADER ${CMAKE_BINARY_DIR}/Varne_h.h)
add_custom_command(OUTPUT ${VARNE_COM_HEADER}
  COMMAND ${VARNE_WIDL} --win64 -I${VARNE_WIDL_INCLUDE} -h -o ${VARNE_COM_HEADER} ${VARNE_IDL}
  DEPENDS ${VARNE_IDL}
  COMMENT "Declaring the dual interfaces for C++ clients")
add_executable(early_bound_client ${PROJECT_SOURCE_DIR}/tests/windows/early_bound_client.cpp ${VARNE_COM_HEADER})
target_include_directories(early_bound_client PRIVATE ${CMAKE_BINARY_DIR})
target_link_libraries(early_bound_client PRIVATE ole32 oleaut32 uuid)
target_link_options(early_bound_client PRIVATE -municode -static -static-libgcc -static-libstdc++)
set_target_properties(early_bound_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/windows)
