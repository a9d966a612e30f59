# Fails the build when the uninstaller outgrows its budget, so growth is seen
# at once. Usage: cmake -DFILE=uninst.exe -DLIMIT=bytes -P check_size.cmake
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
    message(FATAL_ERROR "${FILE} is ${size} bytes; the budget is ${LIMIT}")
endif()
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} of ${LIMIT} bytes")
