# Usage: cmake -DOUT_DIR=folder -DEXECUTABLES="shipped[;unsigned]" -DVERSION_HEADER=version.h -DMAP=link.map
#              -DNOTICES_SCRIPT=third-party-notices.sh -DTOOLS="compiler;linker;..." [-DSOURCE_DIR=repository]
#              -P write-release.cmake
# Writes the release folder from scratch: the shipped executable, the unsigned one in unsigned/ when the
# shipped one is a signed copy, version.txt, THIRD-PARTY-NOTICES.txt for what the link map shows was linked
# from the toolchain, an SPDX 2.3 document of the release and SHA256SUMS of every other file (the format
# `sha256sum -c` reads). The folder appears whole or not at all.
cmake_minimum_required(VERSION 3.25)
foreach(required IN ITEMS OUT_DIR EXECUTABLES VERSION_HEADER MAP NOTICES_SCRIPT)
    if(NOT ${required})
        message(FATAL_ERROR "write-release.cmake: ${required} is not given")
    endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/product.cmake)
orvet_read_version_header("${VERSION_HEADER}")
set(product "${ORVET_PRODUCT_NAME}")
set(maker "Halvern Corporation")
set(staging "${OUT_DIR}.partial")
file(REMOVE_RECURSE "${OUT_DIR}" "${staging}")
file(MAKE_DIRECTORY "${staging}")
function(fail what)
    file(REMOVE_RECURSE "${staging}")
    message(FATAL_ERROR "${what}")
endfunction()

list(GET EXECUTABLES 0 shipped)
get_filename_component(name "${shipped}" NAME)
file(COPY_FILE "${shipped}" "${staging}/${name}")
set(executables "${name}")
list(LENGTH EXECUTABLES count)
if(count GREATER 1)
    list(GET EXECUTABLES 1 unsigned)
    file(MAKE_DIRECTORY "${staging}/unsigned")
    file(COPY_FILE "${unsigned}" "${staging}/unsigned/${name}")
    list(APPEND executables "unsigned/${name}")
endif()

if(NOT ORVET_VERSION_TEXT MATCHES "^[0-9.]+$" OR NOT ORVET_PRODUCT_NAME)
    fail("no ORVET_VERSION_TEXT or ORVET_PRODUCT_NAME in ${VERSION_HEADER}")
endif()
set(version "${ORVET_VERSION_TEXT}")
file(WRITE "${staging}/version.txt" "${version}\n")

# --- Notices and the components they name ---------------------------------------------------------------
set(components_file "${OUT_DIR}.components")
execute_process(COMMAND bash "${NOTICES_SCRIPT}" "${MAP}" "${staging}/THIRD-PARTY-NOTICES.txt" "${components_file}"
                RESULT_VARIABLE result ERROR_VARIABLE error)
if(NOT result EQUAL 0)
    fail("no third-party notices for ${name}:\n${error}")
endif()
file(STRINGS "${components_file}" components)
file(REMOVE "${components_file}")

# --- The SPDX document ----------------------------------------------------------------------------------
# Reproducible: created at SOURCE_DATE_EPOCH or else the last commit's time, named after the executable's hash.
orvet_source_date_epoch(epoch "${SOURCE_DIR}")
if(epoch STREQUAL "")
    fail("no creation time: set SOURCE_DATE_EPOCH (seconds since 1970) outside a git checkout")
endif()
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC)
file(SHA256 "${staging}/${name}" shipped_sha256)

function(json_string out text)  # OUT: TEXT as a JSON string literal
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\\\"" text "${text}")
    string(REPLACE "\n" "\\n" text "${text}")
    set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()
function(debian_version out package)
    execute_process(COMMAND dpkg-query -W -f=\${Version} "${package}" OUTPUT_VARIABLE value
                    RESULT_VARIABLE result ERROR_QUIET)
    if(NOT result EQUAL 0 OR value STREQUAL "")
        fail("${package}: not an installed Debian package")
    endif()
    set(${out} "${value}" PARENT_SCOPE)
endfunction()
# JSON of one package of Debian's: NAME as installed, with its version, licence and what it is for.
function(debian_package out id name package licence comment)
    debian_version(version "${package}")
    string(REPLACE "+" "x" id "${id}")
    string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" id "${id}")
    string(REPLACE "+" "%2B" purl_version "${version}")
    string(REPLACE "+" "%2B" purl_name "${package}")
    set(json "{}")
    foreach(field IN ITEMS SPDXID name versionInfo supplier downloadLocation licenseConcluded licenseDeclared
                           copyrightText comment)
        set(value_SPDXID "SPDXRef-Package-${id}")
        set(value_name "${name}")
        set(value_versionInfo "${version}")
        set(value_supplier "Organization: Debian")
        set(value_downloadLocation "NOASSERTION")
        set(value_licenseConcluded "${licence}")
        set(value_licenseDeclared "${licence}")
        set(value_copyrightText "NOASSERTION")
        set(value_comment "${comment}")
        json_string(value "${value_${field}}")
        string(JSON json SET "${json}" ${field} "${value}")
    endforeach()
    string(JSON json SET "${json}" filesAnalyzed false)
    json_string(purl "pkg:deb/debian/${purl_name}@${purl_version}")
    string(JSON json SET "${json}" externalRefs
           "[{\"referenceCategory\":\"PACKAGE-MANAGER\",\"referenceType\":\"purl\",\"referenceLocator\":${purl}}]")
    set(${out} "${json}" PARENT_SCOPE)
endfunction()

json_string(doc_name "${product} ${version}")
json_string(namespace "https://spdx.org/spdxdocs/orvet-manual-contents-update-${version}-${shipped_sha256}")
json_string(maker_creator "Organization: ${maker}")
json_string(tool_creator "Tool: cmake-${CMAKE_VERSION}")
json_string(product_name "${product}")
json_string(product_version "${version}")
json_string(product_supplier "Organization: ${maker}")
json_string(created_json "${created}")
set(doc "{
  \"spdxVersion\": \"SPDX-2.3\", \"dataLicense\": \"CC0-1.0\", \"SPDXID\": \"SPDXRef-DOCUMENT\",
  \"name\": ${doc_name}, \"documentNamespace\": ${namespace},
  \"creationInfo\": {\"created\": ${created_json}, \"creators\": [${maker_creator}, ${tool_creator}]},
  \"packages\": [{\"SPDXID\": \"SPDXRef-Package-release\", \"name\": ${product_name},
                  \"versionInfo\": ${product_version}, \"supplier\": ${product_supplier},
                  \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": false,
                  \"licenseConcluded\": \"NOASSERTION\", \"licenseDeclared\": \"NOASSERTION\",
                  \"copyrightText\": \"NOASSERTION\"}],
  \"files\": [], \"relationships\": [], \"hasExtractedLicensingInfos\": []
}")
set(relationships "")
macro(relate a kind b)
    string(JSON doc SET "${doc}" relationships 999999
           "{\"spdxElementId\":\"${a}\",\"relationshipType\":\"${kind}\",\"relatedSpdxElement\":\"${b}\"}")
endmacro()
relate(SPDXRef-DOCUMENT DESCRIBES SPDXRef-Package-release)
string(JSON doc SET "${doc}" documentDescribes "[\"SPDXRef-Package-release\"]")

# The files of the release folder, each with the hashes SPDX asks for.
file(GLOB_RECURSE released RELATIVE "${staging}" "${staging}/*")
list(SORT released)
set(index 0)
foreach(file IN LISTS released)
    math(EXPR index "${index} + 1")
    file(SHA1 "${staging}/${file}" sha1)
    file(SHA256 "${staging}/${file}" sha256)
    set(type TEXT)
    if(file MATCHES "\\.exe$")
        set(type BINARY)
        list(APPEND executable_ids "SPDXRef-File-${index}")
    endif()
    json_string(file_name "./${file}")
    string(JSON doc SET "${doc}" files ${index} "{\"SPDXID\":\"SPDXRef-File-${index}\",\"fileName\":${file_name},
        \"fileTypes\":[\"${type}\"],\"checksums\":[{\"algorithm\":\"SHA1\",\"checksumValue\":\"${sha1}\"},
        {\"algorithm\":\"SHA256\",\"checksumValue\":\"${sha256}\"}],\"licenseConcluded\":\"NOASSERTION\",
        \"copyrightText\":\"NOASSERTION\"}")
    relate(SPDXRef-Package-release CONTAINS SPDXRef-File-${index})
endforeach()

# What the executables link statically: the components of the notices.
set(licence_refs "")
foreach(line IN LISTS components)
    string(REPLACE "|" ";" fields "${line}")
    list(GET fields 0 id)
    list(GET fields 1 component)
    list(GET fields 2 package)
    list(GET fields 4 licence)
    list(GET fields 5 archives)
    debian_package(json "${id}" "${component}" "${package}" "${licence}"
                   "Statically linked from ${archives} of the Debian package ${package}")
    string(JSON doc SET "${doc}" packages 999999 "${json}")
    foreach(executable IN LISTS executable_ids)
        relate(${executable} STATIC_LINK SPDXRef-Package-${id})
    endforeach()
    string(REGEX MATCHALL "LicenseRef-[A-Za-z0-9.-]+" refs "${licence}")
    list(APPEND licence_refs ${refs})
endforeach()
list(REMOVE_DUPLICATES licence_refs)
foreach(ref IN LISTS licence_refs)
    string(REGEX REPLACE "^LicenseRef-" "" short "${ref}")
    json_string(text "The licence Debian's copyright files name \"${short}\"; its text is in THIRD-PARTY-NOTICES.txt.")
    string(JSON doc SET "${doc}" hasExtractedLicensingInfos 999999
           "{\"licenseId\":\"${ref}\",\"name\":\"${short}\",\"extractedText\":${text}}")
endforeach()

# The toolchain: the Debian package of each tool that made the release.
set(tool_packages "")
foreach(tool IN LISTS TOOLS)
    if(NOT IS_ABSOLUTE "${tool}")
        find_program(tool_path "${tool}" NO_CACHE REQUIRED)
        set(tool "${tool_path}")
        unset(tool_path)
    endif()
    file(REAL_PATH "${tool}" real)
    execute_process(COMMAND dpkg -S "${real}" OUTPUT_VARIABLE owner RESULT_VARIABLE result ERROR_QUIET)
    if(NOT result EQUAL 0 OR NOT owner MATCHES "^([^:, ]+)")
        fail("${tool} belongs to no installed package")
    endif()
    list(APPEND tool_packages "${CMAKE_MATCH_1}")
endforeach()
list(REMOVE_DUPLICATES tool_packages)
foreach(package IN LISTS tool_packages)
    debian_package(json "tool-${package}" "${package}" "${package}" "NOASSERTION" "Build tool of the release")
    string(JSON doc SET "${doc}" packages 999999 "${json}")
    string(REPLACE "+" "x" id "tool-${package}")
    string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" id "${id}")
    relate(SPDXRef-Package-${id} BUILD_TOOL_OF SPDXRef-Package-release)
endforeach()
file(WRITE "${staging}/${name}.spdx.json" "${doc}\n")

# --- SHA256SUMS of everything else ---------------------------------------------------------------------
file(GLOB_RECURSE released RELATIVE "${staging}" "${staging}/*")
list(SORT released)
set(sums "")
foreach(file IN LISTS released)
    file(SHA256 "${staging}/${file}" hash)
    string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${staging}/SHA256SUMS" "${sums}")
file(RENAME "${staging}" "${OUT_DIR}")
