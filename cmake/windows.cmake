# Windows build: the uninstaller stub, the generator for Windows, and the
# tests that run under Wine.

# Everything static: the uninstaller must run from a bare folder.
set(STATIC_LINK -static -static-libgcc -static-libstdc++)
# No link time in the PE header (and so a checksum that depends on the code
# alone): the same commit links to the same bytes, which signers and auditors
# compare.
add_link_options(-Wl,--no-insert-timestamp)

# nlohmann-json is header-only, but /usr/include must stay off the mingw
# include path (glibc headers clash): expose just its folder.
set(JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${JSON_INCLUDE})
file(CREATE_LINK /usr/include/nlohmann ${JSON_INCLUDE}/nlohmann SYMBOLIC)

add_library(data_lib STATIC ${DATA_SOURCES} src/data/files_win32.cpp src/data/locator_marker.cpp)
target_include_directories(data_lib PUBLIC src)

include(cmake/uninstaller.cmake)
add_subdirectory(tools/uninstpack)
add_subdirectory(bench)
add_subdirectory(examples/nsis)
if(BUILD_TESTING)
    include(GoogleTest)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_subdirectory(tests/support)
    add_subdirectory(tools/winrun)
    add_subdirectory(tests/unit)
    add_subdirectory(tests/e2e)
endif()
