# Usage: cmake -DOUT_DIR=folder -DEXECUTABLES="shipped[;unsigned]" -DVERSION_HEADER=version.h
#              -P write-release.cmake
# Writes the release folder from scratch: the shipped executable, the unsigned one in unsigned/ when the
# shipped one is a signed copy, version.txt and SHA256SUMS (the format `sha256sum -c` reads).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")
list(GET EXECUTABLES 0 shipped)
get_filename_component(name "${shipped}" NAME)
file(COPY_FILE "${shipped}" "${OUT_DIR}/${name}")
set(files "${name}")
list(LENGTH EXECUTABLES count)
if(count GREATER 1)
    list(GET EXECUTABLES 1 unsigned)
    file(MAKE_DIRECTORY "${OUT_DIR}/unsigned")
    file(COPY_FILE "${unsigned}" "${OUT_DIR}/unsigned/${name}")
    list(APPEND files "unsigned/${name}")
endif()

file(STRINGS "${VERSION_HEADER}" version_line REGEX "^#define ORVET_VERSION_TEXT \"[0-9.]+\"$")
if(NOT version_line MATCHES "\"([0-9.]+)\"")
    message(FATAL_ERROR "no ORVET_VERSION_TEXT in ${VERSION_HEADER}")
endif()
file(WRITE "${OUT_DIR}/version.txt" "${CMAKE_MATCH_1}\n")
list(APPEND files version.txt)

set(sums "")
list(SORT files)
foreach(file IN LISTS files)
    file(SHA256 "${OUT_DIR}/${file}" hash)
    string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${OUT_DIR}/SHA256SUMS" "${sums}")
