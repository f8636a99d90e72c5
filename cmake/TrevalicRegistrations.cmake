# Client registrations of the catalogue are build inputs, never sources: a maker keeps its real
# identifiers and secrets outside the repository and names the file at configure time. This
# script reads such a file, refuses any value that does not have the form the providers issue,
# and writes the header the catalogue is compiled with.
#
# File format: one NAME=VALUE per line; blank lines and lines starting with # are ignored.
# Every name below must appear exactly once; no other name is accepted.
#
# Included: call trevalic_generate_registrations(<file> <header>).
# As a script: cmake -DREGISTRATIONS=<file> [-DHEADER=<header>] -P TrevalicRegistrations.cmake

if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.25)
endif()

set(TREVALIC_REGISTRATION_NAMES
    GOOGLE_CLIENT_ID GOOGLE_CLIENT_SECRET
    MICROSOFT_A_CLIENT_ID MICROSOFT_A_CLIENT_SECRET
    MICROSOFT_B_CLIENT_ID MICROSOFT_B_CLIENT_SECRET)

# CMake's regular expressions have no {n}; exact forms are spelled out by repetition.
function(_trevalic_repeat out class count)
    string(REPEAT "${class}" ${count} text)
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(_trevalic_form name out_regex out_description)
    set(alnum "[A-Za-z0-9]")
    _trevalic_repeat(hex8 "[0-9a-f]" 8)
    _trevalic_repeat(hex4 "[0-9a-f]" 4)
    _trevalic_repeat(hex12 "[0-9a-f]" 12)
    set(guid "${hex8}-${hex4}-${hex4}-${hex4}-${hex12}")
    set(guid_text "a GUID in lowercase hexadecimal, 36 characters in 8-4-4-4-12 groups")
    if(name STREQUAL "GOOGLE_CLIENT_ID")
        _trevalic_repeat(project "[0-9]" 12)
        _trevalic_repeat(client "[a-z0-9]" 32)
        set(regex "${project}-${client}\\.apps\\.googleusercontent\\.com")
        set(text "72 characters: 12 digits, '-', 32 lowercase letters or digits, '.apps.googleusercontent.com'")
    elseif(name STREQUAL "GOOGLE_CLIENT_SECRET")
        _trevalic_repeat(prefix "[A-Z]" 6)
        _trevalic_repeat(rest "${alnum}" 28)
        set(regex "${prefix}-${rest}")
        set(text "35 characters: 6 capital letters, '-', 28 letters or digits")
    elseif(name MATCHES "^MICROSOFT_[AB]_CLIENT_ID$")
        set(regex "${guid}")
        set(text "${guid_text}")
    elseif(name STREQUAL "MICROSOFT_A_CLIENT_SECRET")
        _trevalic_repeat(regex "[-A-Za-z0-9._]" 34)
        set(text "34 characters of letters, digits, '.', '-' and '_'")
    elseif(name STREQUAL "MICROSOFT_B_CLIENT_SECRET")
        _trevalic_repeat(rest "${alnum}" 34)
        set(regex "${alnum}${alnum}\\.${alnum}${alnum}~${rest}")
        set(text "40 characters: letters and digits with '.' third and '~' sixth")
    else()
        message(FATAL_ERROR "internal: no form for ${name}")
    endif()
    set(${out_regex} "^${regex}$" PARENT_SCOPE)
    set(${out_description} "${text}" PARENT_SCOPE)
endfunction()

# Reads and checks <file>; sets TREVALIC_REG_<NAME> in the caller's scope.
function(trevalic_read_registrations file)
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "Registrations file not found: ${file}")
    endif()
    file(STRINGS "${file}" lines ENCODING UTF-8)
    set(seen "")
    foreach(line IN LISTS lines)
        string(STRIP "${line}" line)
        if(line STREQUAL "" OR line MATCHES "^#")
            continue()
        endif()
        if(NOT line MATCHES "^([A-Z_]+)=(.*)$")
            message(FATAL_ERROR "Registrations file ${file}: not a NAME=VALUE line: ${line}")
        endif()
        set(name "${CMAKE_MATCH_1}")
        set(value "${CMAKE_MATCH_2}")
        if(NOT name IN_LIST TREVALIC_REGISTRATION_NAMES)
            message(FATAL_ERROR "Registrations file ${file}: unknown name ${name}")
        endif()
        if(name IN_LIST seen)
            message(FATAL_ERROR "Registrations file ${file}: ${name} given twice")
        endif()
        list(APPEND seen ${name})
        _trevalic_form(${name} regex description)
        if(NOT value MATCHES "${regex}")
            message(FATAL_ERROR "Registrations file ${file}: ${name} does not have the form "
                                "of a real registration (${description})")
        endif()
        set(value_${name} "${value}")
    endforeach()
    foreach(name IN LISTS TREVALIC_REGISTRATION_NAMES)
        if(NOT name IN_LIST seen)
            message(FATAL_ERROR "Registrations file ${file}: ${name} is missing")
        endif()
        set(TREVALIC_REG_${name} "${value_${name}}" PARENT_SCOPE)
    endforeach()
    if(value_MICROSOFT_A_CLIENT_ID STREQUAL value_MICROSOFT_B_CLIENT_ID)
        message(FATAL_ERROR "Registrations file ${file}: MICROSOFT_A_CLIENT_ID and "
                            "MICROSOFT_B_CLIENT_ID name the same application")
    endif()
endfunction()

# Writes <header> only when its text changes, so that a re-configure rebuilds nothing needlessly.
function(trevalic_generate_registrations file header)
    trevalic_read_registrations("${file}")
    set(text "// Generated at configure time from the registrations file; do not edit or commit.\n#pragma once\n\n")
    foreach(name IN LISTS TREVALIC_REGISTRATION_NAMES)
        string(APPEND text "#define TREVALIC_${name} L\"${TREVALIC_REG_${name}}\"\n")
    endforeach()
    if(EXISTS "${header}")
        file(READ "${header}" old)
    endif()
    if(NOT old STREQUAL text)
        file(WRITE "${header}" "${text}")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT DEFINED REGISTRATIONS)
        message(FATAL_ERROR "usage: cmake -DREGISTRATIONS=<file> [-DHEADER=<header>] -P ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    if(DEFINED HEADER)
        trevalic_generate_registrations("${REGISTRATIONS}" "${HEADER}")
    else()
        trevalic_read_registrations("${REGISTRATIONS}")
        message(STATUS "Registrations file ${REGISTRATIONS} is well formed")
    endif()
endif()
