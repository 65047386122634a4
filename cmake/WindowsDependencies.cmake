# What the Windows cross build takes from the build machine. /usr/include must not reach a mingw
# build (glibc's headers would shadow the runtime's), so the header-only JSON library is copied
# into an include folder of its own, and Boost is reached through a link of its own; GoogleTest
# is built from its sources (tests/CMakeLists.txt).
set(VARNE_JSON_HEADERS /usr/include/nlohmann CACHE PATH "The nlohmann-json header folder to build against")
file(COPY ${VARNE_JSON_HEADERS} DESTINATION ${PROJECT_BINARY_DIR}/third_party/include)
add_library(nlohmann_json INTERFACE)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/third_party/include)
# Beast and Asio, header-only, for the WebSocket to a browser: a folder of their own that links to
# the build machine's boost/ folder, so that nothing else of /usr/include is seen.
set(VARNE_BOOST_HEADERS /usr/include/boost CACHE PATH "The Boost header folder to build against")
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/third_party/boost)
file(CREATE_LINK ${VARNE_BOOST_HEADERS} ${PROJECT_BINARY_DIR}/third_party/boost/boost SYMBOLIC)
add_library(boost_headers INTERFACE)
add_library(Boost::headers ALIAS boost_headers)
target_include_directories(boost_headers SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/third_party/boost)
target_compile_definitions(boost_headers INTERFACE _WIN32_WINNT=0x0A00)
