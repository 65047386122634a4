# What the Windows cross build takes from the build machine. /usr/include must not reach a mingw
# build (glibc's headers would shadow the runtime's), so the header-only JSON library is copied
# into an include folder of its own; GoogleTest is built from its sources (tests/CMakeLists.txt).
set(VARNE_JSON_HEADERS /usr/include/nlohmann CACHE PATH "The nlohmann-json header folder to build against")
file(COPY ${VARNE_JSON_HEADERS} DESTINATION ${PROJECT_BINARY_DIR}/third_party/include)
add_library(nlohmann_json INTERFACE)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/third_party/include)
