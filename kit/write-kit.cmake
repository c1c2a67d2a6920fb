# Usage: cmake -DOUT_DIR=folder -DEXECUTABLE=product.exe -DCHECK=check_machine.exe -DTESTS="a.exe;b.exe"
#              -DSOURCE_DIR=kit -P write-kit.cmake
# Writes the test kit from scratch: OUT_DIR/orvet-test-kit.zip, whose folder orvet-test-kit/ holds the
# runner and its README (with Windows line ends), the product executable, the runner's machine check and
# tests/ with every test program; and OUT_DIR/SHA256SUMS of the zip, in the format `sha256sum -c` reads.
cmake_minimum_required(VERSION 3.25)
set(name orvet-test-kit)
set(staging "${OUT_DIR}/${name}")
file(REMOVE_RECURSE "${staging}" "${OUT_DIR}/${name}.zip" "${OUT_DIR}/SHA256SUMS")
file(MAKE_DIRECTORY "${staging}/tests")

foreach(text IN ITEMS run-tests.cmd README.txt)
    configure_file("${SOURCE_DIR}/${text}" "${staging}/${text}" @ONLY NEWLINE_STYLE CRLF)
endforeach()
get_filename_component(product "${EXECUTABLE}" NAME)
file(COPY_FILE "${EXECUTABLE}" "${staging}/${product}")
file(COPY_FILE "${CHECK}" "${staging}/check_machine.exe")
foreach(test IN LISTS TESTS)
    get_filename_component(program "${test}" NAME)
    file(COPY_FILE "${test}" "${staging}/tests/${program}")
endforeach()

file(GLOB_RECURSE files RELATIVE "${OUT_DIR}" "${staging}/*")
list(SORT files)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${name}.zip" --format=zip -- ${files}
                WORKING_DIRECTORY "${OUT_DIR}" RESULT_VARIABLE result)
file(REMOVE_RECURSE "${staging}")
if(NOT result EQUAL 0)
    file(REMOVE "${OUT_DIR}/${name}.zip")
    message(FATAL_ERROR "write-kit.cmake: the zip could not be written")
endif()
file(SHA256 "${OUT_DIR}/${name}.zip" hash)
file(WRITE "${OUT_DIR}/SHA256SUMS" "${hash}  ${name}.zip\n")
