# Usage: cmake -DIN=exe -DOUT=signed-exe -DCAFILE=ca.pem
#              (-DPFX=cert.pfx [-DPASSFILE=password-file] | -DSIGNATURE=detached-signature)
#              [-DOSSLSIGNCODE=path] [-DOPENSSL=path] [-DSOURCE_DIR=repository]
#              [-DCHECK_ENVIRONMENT=ON] [-DRELEASE_DIR=folder] -P sign-exe.cmake
# Writes OUT, a copy of IN with an Authenticode signature (SHA-256, the product name as description): made
# here with the PFX, or a signature made elsewhere (on a hardware token, say) attached. OUT exists only
# when the signer is fit for code signing and the copy verified against CAFILE: digest, chain and purpose.
# CHECK_ENVIRONMENT refuses a run whose ORVET_SIGN_* environment names other files than the ones given
# (the build's configured set). Every failure also removes RELEASE_DIR, made from an earlier signing.
# The signing time is fixed, so that signing the same executable twice gives the same bytes: the
# environment's SOURCE_DATE_EPOCH, else the time of the last commit of SOURCE_DIR.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/product.cmake)
orvet_read_version_header(${CMAKE_CURRENT_LIST_DIR}/../resources/version.h)
set(description "${ORVET_PRODUCT_NAME}")
if(NOT OSSLSIGNCODE)
    set(OSSLSIGNCODE osslsigncode)
endif()
if(NOT OPENSSL)
    set(OPENSSL openssl)
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
set(signer_pem "${OUT}.signer.pem")
file(REMOVE "${OUT}" "${partial}" "${signer_pem}")
file(MAKE_DIRECTORY "${out_dir}")

function(fail what output)
    file(REMOVE "${partial}" "${signer_pem}")
    if(RELEASE_DIR)
        file(REMOVE_RECURSE "${RELEASE_DIR}")
    endif()
    # Unwrapped, so that a reason and the paths it names stay whole on one line.
    message(NOTICE "sign-exe.cmake: ${what}; no signed executable was written.\n${output}")
    message(FATAL_ERROR "signing failed")
endfunction()

# A build started without configuring sees the environment only here: one that names another certificate,
# password or CA than the build was configured with must not sign with the configured one.
if(CHECK_ENVIRONMENT)
    set(from_environment OFF)
    foreach(name IN ITEMS PFX PASSFILE CAFILE SIGNATURE)
        if(NOT "$ENV{ORVET_SIGN_${name}}" STREQUAL "")
            set(from_environment ON)
        endif()
    endforeach()
    set(differ "")
    foreach(name IN ITEMS PFX PASSFILE CAFILE SIGNATURE)
        if(from_environment AND NOT "$ENV{ORVET_SIGN_${name}}" STREQUAL "${${name}}")
            string(APPEND differ "\n  ORVET_SIGN_${name}: \"$ENV{ORVET_SIGN_${name}}\" in the environment, "
                                 "\"${${name}}\" in the build")
        endif()
    endforeach()
    if(differ)
        fail("the environment names other signing files than the build was configured with; configure again to take the environment's${differ}"
             "")
    endif()
endif()

# osslsigncode verifies the chain, and refuses a leaf with only another extended usage, but accepts a
# leaf with no extended usage, one whose key may not sign, and a CA certificate as the signer.
# check_signer(PEM SOURCE) refuses all three for the certificate in PEM, which came from SOURCE.
function(check_signer pem source)
    execute_process(COMMAND "${OPENSSL}" x509 -in "${pem}" -noout -subject
                            -ext basicConstraints,keyUsage,extendedKeyUsage
                    RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
        fail("no signer certificate could be read from ${source}" "${error}")
    endif()
    string(REGEX MATCH "subject=[^\n]*" subject "${text}")
    if(text MATCHES "CA:TRUE")
        fail("${source}: the signer (${subject}) is a CA certificate, not a code-signing leaf" "${text}")
    endif()
    if(text MATCHES "X509v3 Key Usage:" AND NOT text MATCHES "X509v3 Key Usage:[^\n]*\n[^\n]*Digital Signature")
        fail("${source}: the signer's key usage (${subject}) lacks digital signature" "${text}")
    endif()
    if(NOT text MATCHES "Extended Key Usage:[^\n]*\n[^\n]*Code Signing")
        fail("${source}: the signer (${subject}) has no code-signing extended key usage" "${text}")
    endif()
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
    orvet_source_date_epoch(time "${SOURCE_DIR}")
    if(time STREQUAL "")
        fail("no signing time: set SOURCE_DATE_EPOCH (seconds since 1970) outside a git checkout" "")
    endif()
    set(password)
    set(passin -passin pass:)
    if(PASSFILE)
        set(password -readpass "${PASSFILE}")
        set(passin -passin "file:${PASSFILE}")
    endif()
    # The leaf is the certificate that goes with the PFX's key.
    execute_process(COMMAND "${OPENSSL}" pkcs12 -in "${PFX}" ${passin} -nokeys -clcerts -out "${signer_pem}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        fail("${PFX} could not be opened with ${PASSFILE}" "${output}")
    endif()
    check_signer("${signer_pem}" "${PFX}")
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
if(SIGNATURE)
    # The signer of a signature made elsewhere: of the certificates it carries, the one whose serial
    # number verification named.
    if(NOT output MATCHES "Signer's certificate:[ \t\n]*Signer #0:[^#]*Serial : ([0-9A-Fa-f]+)")
        fail("verification of ${SIGNATURE} named no signer" "${output}")
    endif()
    string(TOUPPER "${CMAKE_MATCH_1}" signer_serial)
    string(REGEX REPLACE "^0+" "" signer_serial "${signer_serial}")
    set(signature_pem "${OUT}.signature.pem")
    execute_process(COMMAND "${OSSLSIGNCODE}" extract-signature -pem -in "${partial}" -out "${signature_pem}"
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND "${OPENSSL}" pkcs7 -in "${signature_pem}" -print_certs
                    OUTPUT_VARIABLE certificates ERROR_QUIET)
    file(REMOVE "${signature_pem}")
    string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----" certificates
                 "${certificates}")
    set(found OFF)
    foreach(certificate IN LISTS certificates)
        file(WRITE "${signer_pem}" "${certificate}\n")
        execute_process(COMMAND "${OPENSSL}" x509 -in "${signer_pem}" -noout -serial OUTPUT_VARIABLE serial
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        string(REGEX REPLACE "^serial=0*" "" serial "${serial}")
        if(serial STREQUAL signer_serial)
            set(found ON)
            break()
        endif()
    endforeach()
    if(NOT found)
        fail("${SIGNATURE} does not carry its signer's certificate" "${output}")
    endif()
    check_signer("${signer_pem}" "${SIGNATURE}")
endif()
file(REMOVE "${signer_pem}")
file(RENAME "${partial}" "${OUT}")
# osslsigncode writes without the execute bits; the copy should run wherever the original does.
file(CHMOD "${OUT}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                     WORLD_EXECUTE)
