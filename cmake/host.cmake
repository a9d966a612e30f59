# Host build: the generator for Linux and its tests.
add_library(data_lib STATIC ${DATA_SOURCES} src/data/files_host.cpp src/data/locator_marker.cpp)
target_include_directories(data_lib PUBLIC src)

add_subdirectory(tools/uninstpack)
if(BUILD_TESTING)
    add_subdirectory(tests/host)
endif()
