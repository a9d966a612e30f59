# The uninstaller stub: a small static GUI program without exceptions or RTTI.

set(PRODUCT_COMPILE_OPTIONS
    -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -Wall -Wextra)

# Everything but the entry point, so the unit tests can link the same code.
add_library(uninst_core STATIC
    ${DATA_SOURCES}
    src/data/files_win32.cpp
    src/data/uninstall_data.cpp
    src/base/run_state.cpp
    src/paths/path_helpers.cpp
    src/paths/folder_tokens.cpp
    src/removal/com_servers.cpp
    src/removal/fonts.cpp
    src/ui/dialogs.cpp
    src/removal/files.cpp
    src/removal/wildcards.cpp
    src/removal/directories.cpp
    src/removal/registry.cpp
    src/launch/program.cpp
    src/launch/self_removal.cpp
    src/app/switches.cpp
    src/app/run.cpp)
target_include_directories(uninst_core PUBLIC src)
target_compile_options(uninst_core PRIVATE ${PRODUCT_COMPILE_OPTIONS})
target_link_libraries(uninst_core PUBLIC ole32 oleaut32 uuid shell32 advapi32 user32 gdi32)

add_executable(uninst WIN32 src/app/main.cpp src/res/uninst.rc)
set_source_files_properties(src/res/uninst.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/src/res/uninst.ico;${CMAKE_SOURCE_DIR}/src/res/uninst.manifest")
target_compile_options(uninst PRIVATE ${PRODUCT_COMPILE_OPTIONS})
target_link_libraries(uninst PRIVATE uninst_core)
# The map names the function at every address, for bench/profile.sh. The
# entry point is the program's own (src/app/main.cpp), without the runtime's
# start-up code.
target_link_options(uninst PRIVATE -mwindows -nostartfiles -Wl,-e,_StartUninstaller@0 -s -Wl,--gc-sections -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/uninst.map ${STATIC_LINK})

# The offset field must hold the stub's own size, so that appending a data
# block is all it takes to make an uninstaller. The host generator writes it.
if(NOT UNINSTPACK_HOST)
    message(FATAL_ERROR "UNINSTPACK_HOST must name the host build of uninstpack")
endif()
set(UNINST_SIZE_LIMIT 49152)
add_custom_command(TARGET uninst POST_BUILD
    COMMAND ${UNINSTPACK_HOST} seal $<TARGET_FILE:uninst>
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:uninst> -DLIMIT=${UNINST_SIZE_LIMIT}
            -P ${CMAKE_SOURCE_DIR}/cmake/check_size.cmake
    COMMENT "Writing the data offset into uninst.exe and checking its size")
