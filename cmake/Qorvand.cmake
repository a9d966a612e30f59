# Making an uninstaller at build time, for a program whose installation folder
# is known when it is built (a fixed folder, or an image or package that puts
# it there). In a project's CMakeLists.txt:
#
#   include(/usr/local/lib/qorvand/Qorvand.cmake)
#   qorvand_uninstaller(app_uninstaller MANIFEST app.json OUTPUT uninst.exe
#                       INSTALL_DIR "C:\\Program Files\\Vendor\\App" [LANGUAGE de] [DEFINES NAME=VALUE...])
#
# The target is part of "all"; the uninstaller is made again when the manifest
# or the generator changes. uninstpack is the one beside this file (where make
# install puts both), or the one on the PATH; QORVAND_UNINSTPACK names another.
get_filename_component(_qorvand_here "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
find_program(QORVAND_UNINSTPACK uninstpack HINTS "${_qorvand_here}" REQUIRED)

function(qorvand_uninstaller target)
    cmake_parse_arguments(PARSE_ARGV 1 QV "" "MANIFEST;OUTPUT;INSTALL_DIR;LANGUAGE" "DEFINES")
    if(NOT QV_MANIFEST OR NOT QV_OUTPUT OR QV_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "qorvand_uninstaller(${target} MANIFEST FILE OUTPUT FILE [INSTALL_DIR DIR] [LANGUAGE TAG] "
                            "[DEFINES NAME=VALUE...]): ${QV_UNPARSED_ARGUMENTS}")
    endif()
    get_filename_component(manifest "${QV_MANIFEST}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(output "${QV_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    set(arguments build "${manifest}" -o "${output}")
    if(DEFINED QV_INSTALL_DIR)
        list(APPEND arguments --install-dir "${QV_INSTALL_DIR}")
    endif()
    if(QV_LANGUAGE)
        list(APPEND arguments --language "${QV_LANGUAGE}")
    endif()
    foreach(define IN LISTS QV_DEFINES)
        list(APPEND arguments -D "${define}")
    endforeach()
    get_filename_component(folder "${output}" DIRECTORY)
    add_custom_command(OUTPUT "${output}" COMMAND "${CMAKE_COMMAND}" -E make_directory "${folder}"
                       COMMAND "${QORVAND_UNINSTPACK}" ${arguments}
                       DEPENDS "${manifest}" "${QORVAND_UNINSTPACK}" COMMENT "Making ${QV_OUTPUT}" VERBATIM)
    add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
