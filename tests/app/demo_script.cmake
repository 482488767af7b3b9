# Encodes the demo's upgrade.txt with dbrtool and compares the result with the committed
# upgrade.dbr, byte for byte. Takes -DTOOL=<dbrtool> -DEMULATOR=<a|b|c or empty>
# -DDEMO=<examples/demo> -DWORK=<scratch folder>.
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${emulator} "${TOOL}" encode "${DEMO}/upgrade.txt" "${WORK}/upgrade.dbr"
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0)
    message(FATAL_ERROR "dbrtool encode failed (${code}):\n${out}${err}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/upgrade.dbr"
                        "${DEMO}/upgrade.dbr" RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "examples/demo/upgrade.dbr is not what dbrtool makes of upgrade.txt: "
                        "run examples/demo/regenerate.sh")
endif()
