# What the build, the signing and the release folder share, for configuring and for `cmake -P` scripts
# alike: the product's name and version as resources/version.h states them, and the time a build is
# stamped with.

# Sets ORVET_PRODUCT_NAME and ORVET_VERSION_TEXT in the caller from `header` (resources/version.h); either
# is left unset when the header lacks it.
function(orvet_read_version_header header)
    file(STRINGS "${header}" lines REGEX "^#define ORVET_(PRODUCT_NAME|VERSION_TEXT) \"[^\"]+\"$")
    foreach(line IN LISTS lines)
        if(line MATCHES "^#define (ORVET_[A-Z_]+) \"([^\"]+)\"$")
            set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}" PARENT_SCOPE)
        endif()
    endforeach()
endfunction()

# Sets `out` to SOURCE_DATE_EPOCH, or else the time of the last commit of `source_dir`, in seconds since
# 1970: the same from build to build. Empty when neither can be had.
function(orvet_source_date_epoch out source_dir)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(time "$ENV{SOURCE_DATE_EPOCH}")
    else()
        execute_process(COMMAND git -C "${source_dir}" log -1 --format=%ct RESULT_VARIABLE result
                        OUTPUT_VARIABLE time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(NOT result EQUAL 0)
            set(time "")
        endif()
    endif()
    if(NOT time MATCHES "^[0-9]+$")
        set(time "")
    endif()
    set(${out} "${time}" PARENT_SCOPE)
endfunction()
