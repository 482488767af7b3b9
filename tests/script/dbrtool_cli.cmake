# Runs the dbrtool program as a script writer would and checks its exit codes, messages
# and files. Takes -DTOOL=<program> -DEMULATOR=<a|b|c or empty> -DDATA=<folder>
# -DWORK=<scratch folder>.
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# run(<exit code> <regex for stdout+stderr> [OUTPUT_FILE f] ARGS args...)
function(run expected_code expected_regex)
    cmake_parse_arguments(RUN "" "OUTPUT_FILE" "ARGS" ${ARGN})
    if(RUN_OUTPUT_FILE)
        execute_process(COMMAND ${emulator} "${TOOL}" ${RUN_ARGS} RESULT_VARIABLE code
                        OUTPUT_FILE "${RUN_OUTPUT_FILE}" ERROR_VARIABLE err)
        set(out "")
    else()
        execute_process(COMMAND ${emulator} "${TOOL}" ${RUN_ARGS} RESULT_VARIABLE code
                        OUTPUT_VARIABLE out ERROR_VARIABLE err)
    endif()
    if(NOT code STREQUAL "${expected_code}")
        message(FATAL_ERROR "dbrtool ${RUN_ARGS}: exit ${code}, expected ${expected_code}\n"
                            "${out}${err}")
    endif()
    if(NOT "${out}${err}" MATCHES "${expected_regex}")
        message(FATAL_ERROR "dbrtool ${RUN_ARGS}: output does not match '${expected_regex}'\n"
                            "${out}${err}")
    endif()
endfunction()

run(0 "Usage:.*encode IN.txt OUT.dbr.*Example" ARGS --help)
run(2 "Usage:" ARGS)
run(2 "unknown command" ARGS convert x)

# Round trip: text -> script -> text -> the same script, byte for byte.
run(0 "wrote .*: 30 lines" ARGS encode "${DATA}/sample.txt" "${WORK}/a.dbr")
run(0 "" OUTPUT_FILE "${WORK}/a.txt" ARGS decode "${WORK}/a.dbr")
run(0 "" ARGS encode "${WORK}/a.txt" "${WORK}/b.dbr")
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/a.dbr" "${WORK}/b.dbr"
                RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "decode then encode does not give the same script back")
endif()
run(0 "DBN2: file \"用户.s3db\".*DBN1: TABLE 1, ALTER 1.*OK: 3 items" ARGS check "${WORK}/a.dbr")

# Refusals and bad input: a message, exit 1, and nothing written.
file(WRITE "${WORK}/bad.txt" "HEAD\nDBN1=簟\n")
run(1 "bad.txt:2: line refused" ARGS encode "${WORK}/bad.txt" "${WORK}/bad.dbr")
if(EXISTS "${WORK}/bad.dbr")
    message(FATAL_ERROR "a refused script was written")
endif()
file(WRITE "${WORK}/odd.dbr" "abc")
file(WRITE "${WORK}/empty.dbr" "")
file(WRITE "${WORK}/eight.dbr" "HEAD\nMAIN=8\n")
foreach(command decode check)
    run(1 "no such file" ARGS ${command} "${WORK}/missing.dbr")
    run(1 "is a folder" ARGS ${command} "${WORK}")
    run(1 "odd number of bytes" ARGS ${command} "${WORK}/odd.dbr")
    run(1 "is empty" ARGS ${command} "${WORK}/empty.dbr")
    run(1 "8-bit text" ARGS ${command} "${WORK}/eight.dbr")
endforeach()
run(1 "is empty" ARGS encode "${WORK}/empty.dbr" "${WORK}/c.dbr")

# An unusable QUORVEL_CODEPAGE is refused before any file is read or written (the Windows
# build takes the system's code page and ignores it).
if(NOT emulator)
    foreach(setting 99999 garbage 936x)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E env QUORVEL_CODEPAGE=${setting}
                                "${TOOL}" encode "${DATA}/sample.txt" "${WORK}/cp.dbr"
                        RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(code EQUAL 0 OR NOT err MATCHES "QUORVEL_CODEPAGE=${setting} is not a code page"
           OR EXISTS "${WORK}/cp.dbr")
            message(FATAL_ERROR "QUORVEL_CODEPAGE=${setting}: exit ${code}\n${out}${err}")
        endif()
    endforeach()
endif()
