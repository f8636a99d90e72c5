# Runs the registrations checker against the development file and against copies of it with one
# value spoiled; each spoiled copy must be refused. Usage:
#   cmake -DCHECKER=<TrevalicRegistrations.cmake> -DGOOD=<file> -DWORK=<dir> -P TrevalicRegistrationsCheck.cmake
cmake_minimum_required(VERSION 3.25)

file(READ "${GOOD}" good)
file(MAKE_DIRECTORY "${WORK}")

function(run_checker file out_result out_output)
    execute_process(COMMAND ${CMAKE_COMMAND} -DREGISTRATIONS=${file} -P ${CHECKER}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(${out_result} ${result} PARENT_SCOPE)
    set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

run_checker("${GOOD}" result output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the development registrations were refused:\n${output}")
endif()

# Each case: a label, the text to replace in the good file, its replacement.
set(cases
    "google id one digit short|000000000000-|00000000000-"
    "google id without its suffix|.apps.googleusercontent.com|.apps.example.com"
    "google id with capitals|developmentonly|DEVELOPMENTONLY"
    "google secret prefix in lowercase|DEVSEC-|devsec-"
    "google secret one short|NotARealSecretForDevelopment\n|NotARealSecretForDevelopmen\n"
    "microsoft A id in capitals|00000000000a|00000000000A"
    "microsoft A id without groups|0000-4000-8000-00000000000a|000040008000-00000000000a"
    "microsoft A secret with a space|Development_only|Development only"
    "microsoft A secret one long|not-a-real_secret|not-a-real_secrets"
    "microsoft B secret without the dot|Dv.De~|DvXDe~"
    "microsoft B secret tilde moved|Dv.De~N|Dv.DeN~"
    "microsoft B secret with a hyphen|DevelopmentOnly00|Development-nly00"
    "same application twice|00000000000b|00000000000a"
    "value missing|MICROSOFT_B_CLIENT_SECRET=|#MICROSOFT_B_CLIENT_SECRET="
    "unknown name|GOOGLE_CLIENT_SECRET=|GOOGLE_SECRET="
    "name twice|MICROSOFT_A_CLIENT_ID=|MICROSOFT_B_CLIENT_ID=")
set(failures "")
set(index 0)
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 label)
    list(GET fields 1 from)
    list(GET fields 2 to)
    string(REPLACE "\\n" "\n" from "${from}")
    string(REPLACE "\\n" "\n" to "${to}")
    string(FIND "${good}" "${from}" at)
    if(at EQUAL -1)
        string(APPEND failures "\n  ${label}: the case does not apply to the development file")
        continue()
    endif()
    string(REPLACE "${from}" "${to}" spoiled "${good}")
    math(EXPR index "${index} + 1")
    set(file "${WORK}/case${index}.txt")
    file(WRITE "${file}" "${spoiled}")
    run_checker("${file}" result output)
    if(result EQUAL 0)
        string(APPEND failures "\n  ${label}: accepted")
    elseif(NOT output MATCHES "Registrations file")
        string(APPEND failures "\n  ${label}: refused without a clear message:\n${output}")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "spoiled registrations:${failures}")
endif()
