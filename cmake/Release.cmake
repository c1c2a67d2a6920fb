# Signing and the release folder of the product executable.
#
# Signing is on when a certificate (ORVET_SIGN_PFX) or a detached signature (ORVET_SIGN_SIGNATURE) is given,
# as a cache variable or in the environment variable of the same name at configure time. The build then
# writes the signed copy to signed/ beside the executable, under the same file name; a copy that does not
# verify against ORVET_SIGN_CAFILE fails the build and is not written.

set(ORVET_SIGN_PFX "" CACHE FILEPATH "PFX file (certificate and key) to sign the executable with")
set(ORVET_SIGN_PASSFILE "" CACHE FILEPATH "File holding the password of ORVET_SIGN_PFX")
set(ORVET_SIGN_CAFILE "" CACHE FILEPATH "CA certificates (PEM) the signed executable must verify against")
set(ORVET_SIGN_SIGNATURE "" CACHE FILEPATH
    "Signature made elsewhere (osslsigncode extract-signature) to attach instead of signing")
# Versions of osslsigncode write different bytes for the same signature: one is pinned (install-deps.sh).
set(ORVET_OSSLSIGNCODE_VERSION "2.5" CACHE STRING "The osslsigncode version signing is pinned to")

# The environment of a run names the whole signing set: when it gives any of these, it replaces what an
# earlier run left in the cache, the names it leaves out included, so that a certificate, password or CA
# of that run can never pair with one of another. A value is kept in the cache, so that a later configure
# without it (ninja reruns CMake by itself) does not quietly stop signing; the build step compares the
# environment again (sign-exe.cmake) for a build started without configuring.
set(orvet_sign_names PFX PASSFILE CAFILE SIGNATURE)
# A refused signing leaves no release folder of an earlier run behind either.
function(orvet_sign_refuse)
    file(REMOVE_RECURSE "${CMAKE_BINARY_DIR}/out")
    message(FATAL_ERROR ${ARGN})
endfunction()
set(orvet_sign_from_environment OFF)
foreach(name IN LISTS orvet_sign_names)
    if(NOT "$ENV{ORVET_SIGN_${name}}" STREQUAL "")
        set(orvet_sign_from_environment ON)
    endif()
endforeach()
foreach(name IN LISTS orvet_sign_names)
    if(orvet_sign_from_environment AND NOT "$ENV{ORVET_SIGN_${name}}" STREQUAL "${ORVET_SIGN_${name}}")
        if(NOT "${ORVET_SIGN_${name}}" STREQUAL "")
            set(orvet_was "${ORVET_SIGN_${name}}")
            if("$ENV{ORVET_SIGN_${name}}" STREQUAL "")
                message(STATUS "ORVET_SIGN_${name}: not in the environment, ${orvet_was} from an earlier run dropped")
            else()
                message(STATUS "ORVET_SIGN_${name}: $ENV{ORVET_SIGN_${name}} from the environment replaces "
                               "${orvet_was} from an earlier run")
            endif()
        endif()
        get_property(orvet_sign_doc CACHE ORVET_SIGN_${name} PROPERTY HELPSTRING)
        set(ORVET_SIGN_${name} "$ENV{ORVET_SIGN_${name}}" CACHE FILEPATH "${orvet_sign_doc}" FORCE)
    endif()
    set(orvet_sign_${name} "${ORVET_SIGN_${name}}")
    if(orvet_sign_${name} AND NOT EXISTS "${orvet_sign_${name}}")
        orvet_sign_refuse("ORVET_SIGN_${name}: no file ${orvet_sign_${name}}")
    endif()
endforeach()

set(orvet_executables "$<TARGET_FILE:orvet_update>")
if(orvet_sign_PFX OR orvet_sign_SIGNATURE)
    if(orvet_sign_PFX AND orvet_sign_SIGNATURE)
        orvet_sign_refuse("Give ORVET_SIGN_PFX to sign or ORVET_SIGN_SIGNATURE to attach, not both")
    endif()
    if(NOT orvet_sign_CAFILE)
        orvet_sign_refuse("Signing needs ORVET_SIGN_CAFILE: the signed executable is verified against it")
    endif()
    find_program(ORVET_OSSLSIGNCODE osslsigncode REQUIRED)
    find_program(ORVET_OPENSSL openssl REQUIRED)
    execute_process(COMMAND "${ORVET_OSSLSIGNCODE}" --version OUTPUT_VARIABLE orvet_osslsigncode_banner
                    ERROR_QUIET)
    if(NOT orvet_osslsigncode_banner MATCHES "^osslsigncode ([^ ,\n]+)"
       OR NOT CMAKE_MATCH_1 STREQUAL ORVET_OSSLSIGNCODE_VERSION)
        orvet_sign_refuse("Signing is pinned to osslsigncode ${ORVET_OSSLSIGNCODE_VERSION}, "
                            "${ORVET_OSSLSIGNCODE} is not it (tools/install-deps.sh installs it)")
    endif()

    set(orvet_signed_exe "$<TARGET_FILE_DIR:orvet_update>/signed/$<TARGET_FILE_NAME:orvet_update>")
    # Runs on every build: the signing time follows the last commit, which no file dependency sees.
    # A failed signing removes the release folder of an earlier run, which no longer matches the build.
    add_custom_target(orvet_signed ALL
        COMMAND ${CMAKE_COMMAND} "-DIN=$<TARGET_FILE:orvet_update>" "-DOUT=${orvet_signed_exe}"
                "-DPFX=${orvet_sign_PFX}" "-DPASSFILE=${orvet_sign_PASSFILE}" "-DCAFILE=${orvet_sign_CAFILE}"
                "-DSIGNATURE=${orvet_sign_SIGNATURE}" "-DOSSLSIGNCODE=${ORVET_OSSLSIGNCODE}"
                "-DOPENSSL=${ORVET_OPENSSL}"
                "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}" -DCHECK_ENVIRONMENT=ON
                "-DRELEASE_DIR=${CMAKE_BINARY_DIR}/out"
                -P ${CMAKE_CURRENT_LIST_DIR}/sign-exe.cmake
        COMMENT "Signing and verifying the executable"
        VERBATIM)
    add_dependencies(orvet_signed orvet_update)
    set(orvet_executables "${orvet_signed_exe}" "$<TARGET_FILE:orvet_update>")
endif()

# The link map says which members of the toolchain's archives the executable holds: the release's notices
# cover exactly those. Writing it changes no byte of the executable.
set(orvet_link_map "${CMAKE_BINARY_DIR}/run/orvet_update.map")
target_link_options(orvet_update PRIVATE "-Wl,-Map=${orvet_link_map}")

# The release folder, out/ in the build: the executable (signed when signing is on, the unsigned one then in
# unsigned/), the version text, the third-party notices, the SPDX document and SHA256SUMS. The command
# without its OUT_DIR serves the release test too.
set(orvet_release_tools "${CMAKE_CXX_COMPILER}" "${CMAKE_LINKER}" "${CMAKE_RC_COMPILER}" "${CMAKE_COMMAND}")
if(TARGET orvet_signed)
    list(APPEND orvet_release_tools "${ORVET_OSSLSIGNCODE}")
endif()
# Lists inside one argument keep their semicolons through the list that holds the command.
string(REPLACE ";" "$<SEMICOLON>" orvet_release_executables "${orvet_executables}")
string(REPLACE ";" "$<SEMICOLON>" orvet_release_tools "${orvet_release_tools}")
set(orvet_release_command ${CMAKE_COMMAND} "-DEXECUTABLES=${orvet_release_executables}"
    "-DVERSION_HEADER=${PROJECT_SOURCE_DIR}/resources/version.h" "-DMAP=${orvet_link_map}"
    "-DNOTICES_SCRIPT=${CMAKE_CURRENT_LIST_DIR}/third-party-notices.sh" "-DTOOLS=${orvet_release_tools}"
    "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}")
set(orvet_release_script ${CMAKE_CURRENT_LIST_DIR}/write-release.cmake)
add_custom_target(orvet_release
    COMMAND ${orvet_release_command} "-DOUT_DIR=${CMAKE_BINARY_DIR}/out" -P ${orvet_release_script}
    COMMENT "Writing the release folder ${CMAKE_BINARY_DIR}/out"
    VERBATIM)
add_dependencies(orvet_release orvet_update)
if(TARGET orvet_signed)
    add_dependencies(orvet_release orvet_signed)
endif()
