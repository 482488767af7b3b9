# Makes the package into a folder of its own and checks what it holds: the two programs
# and the README, under one top folder named like the package.
#
#   cmake -DCPACK=... -DCONFIG=CPackConfig.cmake -DWORK=dir -DNAME=quorvel-1.0.0-win32
#         -DEXTENSION=.zip -DFILES="README.txt;quorvel.exe;dbrtool.exe" -DVERSION=1.0.0
#         -P check-package.cmake
file(REMOVE_RECURSE "${WORK}")
execute_process(COMMAND "${CPACK}" --config "${CONFIG}" -B "${WORK}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed:\n${output}")
endif()
set(archive "${WORK}/${NAME}${EXTENSION}")
if(NOT EXISTS "${archive}")
    file(GLOB made "${WORK}/*")
    message(FATAL_ERROR "no ${archive}; cpack made: ${made}")
endif()

file(MAKE_DIRECTORY "${WORK}/unpacked")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${archive}"
                WORKING_DIRECTORY "${WORK}/unpacked" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${archive}")
endif()
file(GLOB_RECURSE found RELATIVE "${WORK}/unpacked" "${WORK}/unpacked/*")
list(SORT found)
set(expected)
foreach(name ${FILES})
    list(APPEND expected "${NAME}/${name}")
endforeach()
list(SORT expected)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${archive} holds\n  ${found}\ninstead of\n  ${expected}")
endif()
file(READ "${WORK}/unpacked/${NAME}/README.txt" readme)
if(NOT readme MATCHES "Quorvel ${VERSION}")
    message(FATAL_ERROR "the README does not name version ${VERSION}")
endif()
message(STATUS "${archive}: ${found}")
