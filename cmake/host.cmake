# Host build: the generator for Linux and its tests.

# The generator reads manifests from anyone and ships in a Debian package:
# Debian's hardening beyond its compiler's defaults.
add_compile_definitions(_FORTIFY_SOURCE=2)
add_link_options(-Wl,-z,now)
add_library(data_lib STATIC ${DATA_SOURCES} src/data/files_host.cpp src/data/locator_marker.cpp)
target_include_directories(data_lib PUBLIC src)

add_subdirectory(tools/uninstpack)
if(BUILD_TESTING)
    add_subdirectory(tests/host)
endif()
