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

# Input read once: from a pipe, through "-" (standard input) and, on Linux, /dev/stdin.
file(READ "${WORK}/a.txt" expected_text)
set(stdin_names -)
if(NOT emulator)
    list(APPEND stdin_names /dev/stdin)
endif()
foreach(name ${stdin_names})
    foreach(command decode check)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E cat "${WORK}/a.dbr"
                        COMMAND ${emulator} "${TOOL}" ${command} ${name}
                        RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(NOT code EQUAL 0)
            message(FATAL_ERROR "cat a.dbr | dbrtool ${command} ${name}: exit ${code}\n${err}")
        endif()
        if(command STREQUAL "decode" AND NOT out STREQUAL expected_text)
            message(FATAL_ERROR "cat a.dbr | dbrtool decode ${name} gives other text:\n${out}")
        endif()
        if(command STREQUAL "check" AND NOT out MATCHES "OK: 3 items")
            message(FATAL_ERROR "cat a.dbr | dbrtool check ${name}:\n${out}")
        endif()
    endforeach()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E cat "${WORK}/a.txt"
                    COMMAND ${emulator} "${TOOL}" encode ${name} "${WORK}/piped.dbr"
                    RESULT_VARIABLE code ERROR_VARIABLE err)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/a.dbr" "${WORK}/piped.dbr"
                    RESULT_VARIABLE differ)
    if(NOT code EQUAL 0 OR differ)
        message(FATAL_ERROR "cat a.txt | dbrtool encode ${name}: exit ${code}\n${err}")
    endif()
endforeach()

# The output is what the user named (Linux: links, permissions, devices and pipes).
if(NOT emulator)
    # A link keeps leading to the script, which changes.
    file(WRITE "${WORK}/target.dbr" "old")
    file(CREATE_LINK target.dbr "${WORK}/link.dbr" SYMBOLIC)
    run(0 "wrote" ARGS encode "${WORK}/a.txt" "${WORK}/link.dbr")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/a.dbr" "${WORK}/target.dbr"
                    RESULT_VARIABLE differ)
    if(differ OR NOT IS_SYMLINK "${WORK}/link.dbr")
        message(FATAL_ERROR "encode through a link replaced the link or missed its target")
    endif()
    # A read-only script is refused and left as it was, also for root.
    file(WRITE "${WORK}/readonly.dbr" "old")
    file(CHMOD "${WORK}/readonly.dbr" PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
    run(1 "readonly.dbr: is read-only" ARGS encode "${WORK}/a.txt" "${WORK}/readonly.dbr")
    file(READ "${WORK}/readonly.dbr" content)
    if(NOT content STREQUAL "old")
        message(FATAL_ERROR "a read-only script was replaced")
    endif()
    # A pipe nobody reads: refused, never replaced by a file.
    execute_process(COMMAND mkfifo "${WORK}/fifo.dbr" RESULT_VARIABLE made)
    if(made EQUAL 0)
        run(1 "fifo.dbr: is a pipe that nobody reads" ARGS encode "${WORK}/a.txt" "${WORK}/fifo.dbr")
        execute_process(COMMAND test -p "${WORK}/fifo.dbr" RESULT_VARIABLE still)
        if(NOT still EQUAL 0)
            message(FATAL_ERROR "the pipe was replaced by a file")
        endif()
    endif()
    # A device (a null device of our own, made where root may): written in place.
    execute_process(COMMAND mknod "${WORK}/null.dbr" c 1 3 RESULT_VARIABLE made
                    ERROR_QUIET)
    if(made EQUAL 0)
        run(0 "wrote" ARGS encode "${WORK}/a.txt" "${WORK}/null.dbr")
        execute_process(COMMAND test -c "${WORK}/null.dbr" RESULT_VARIABLE still)
        if(NOT still EQUAL 0)
            message(FATAL_ERROR "the device was replaced by a file")
        endif()
    endif()
    # A backslash is part of a Linux file name, never a folder separator.
    file(WRITE "${WORK}/my\\script.txt" "HEAD\nMAIN=1\n")
    run(0 "wrote .*my\\\\script.dbr: 2 lines" ARGS encode "${WORK}/my\\script.txt"
        "${WORK}/my\\script.dbr")
    run(0 "" ARGS decode "${WORK}/my\\script.dbr")
    if(EXISTS "${WORK}/my/script.dbr" OR NOT EXISTS "${WORK}/my\\script.dbr")
        message(FATAL_ERROR "the backslash was taken for a separator")
    endif()
endif()
