# Usage: cmake -DIN=exe -DOUT=signed-exe -DCAFILE=ca.pem
#              (-DPFX=cert.pfx [-DPASSFILE=password-file] | -DSIGNATURE=detached-signature)
#              [-DOSSLSIGNCODE=path] [-DSOURCE_DIR=repository] -P sign-exe.cmake
# Writes OUT, a copy of IN with an Authenticode signature (SHA-256, the product name as description): made
# here with the PFX, or a signature made elsewhere (on a hardware token, say) attached. OUT exists only
# when it verified against CAFILE: digest, chain and code-signing purpose.
# The signing time is fixed, so that signing the same executable twice gives the same bytes: the
# environment's SOURCE_DATE_EPOCH, else the time of the last commit of SOURCE_DIR.
cmake_minimum_required(VERSION 3.25)

set(description "Orvet Manual Contents Update")
if(NOT OSSLSIGNCODE)
    set(OSSLSIGNCODE osslsigncode)
endif()
foreach(required IN ITEMS IN OUT CAFILE)
    if(NOT ${required})
        message(FATAL_ERROR "sign-exe.cmake: ${required} is not given")
    endif()
endforeach()
if((PFX AND SIGNATURE) OR (NOT PFX AND NOT SIGNATURE))
    message(FATAL_ERROR "sign-exe.cmake: give either a PFX to sign with or a signature to attach")
endif()

# A failed run must not leave a signed file of an earlier one behind.
get_filename_component(out_dir "${OUT}" DIRECTORY)
set(partial "${OUT}.partial")
file(REMOVE "${OUT}" "${partial}")
file(MAKE_DIRECTORY "${out_dir}")

function(fail what output)
    file(REMOVE "${partial}")
    message(FATAL_ERROR "${what}; no signed executable was written.\n${output}")
endfunction()

if(SIGNATURE)
    # The signature carries its own signing time and description. Attaching verifies too, against the
    # system's CAs unless told otherwise.
    execute_process(COMMAND "${OSSLSIGNCODE}" attach-signature -sigin "${SIGNATURE}" -CAfile "${CAFILE}"
                            -in "${IN}" -out "${partial}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        fail("attaching ${SIGNATURE} to ${IN} failed" "${output}")
    endif()
else()
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(time "$ENV{SOURCE_DATE_EPOCH}")
    else()
        execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct RESULT_VARIABLE result
                        OUTPUT_VARIABLE time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(NOT result EQUAL 0)
            set(time "")
        endif()
    endif()
    if(NOT time MATCHES "^[0-9]+$")
        fail("no signing time: set SOURCE_DATE_EPOCH (seconds since 1970) outside a git checkout" "")
    endif()
    set(password)
    if(PASSFILE)
        set(password -readpass "${PASSFILE}")
    endif()
    execute_process(COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${PFX}" ${password} -h sha256 -n "${description}"
                            -time "${time}" -in "${IN}" -out "${partial}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        fail("signing ${IN} with ${PFX} failed" "${output}")
    endif()
endif()

execute_process(COMMAND "${OSSLSIGNCODE}" verify -CAfile "${CAFILE}" -in "${partial}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    fail("the signed copy of ${IN} does not verify against ${CAFILE}" "${output}")
endif()
file(RENAME "${partial}" "${OUT}")
# osslsigncode writes without the execute bits; the copy should run wherever the original does.
file(CHMOD "${OUT}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                     WORLD_EXECUTE)
