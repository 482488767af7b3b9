# Stand-ins for the client executable: small Windows programs with a version resource,
# made with MinGW by scripts/make_vennic_exe.sh. Tests, the demo and end-to-end runs use
# them; where MinGW is missing, QUORVEL_CAN_MAKE_VENNIC_EXE is OFF and callers fall back
# to the executables committed under tests/data/pe.
find_program(QUORVEL_BASH bash)
find_program(QUORVEL_MINGW_WINDRES i686-w64-mingw32-windres)
find_program(QUORVEL_MINGW_GCC i686-w64-mingw32-gcc)
if(QUORVEL_BASH AND QUORVEL_MINGW_WINDRES AND QUORVEL_MINGW_GCC)
    set(QUORVEL_CAN_MAKE_VENNIC_EXE ON)
else()
    set(QUORVEL_CAN_MAKE_VENNIC_EXE OFF)
endif()

# quorvel_vennic_exe(<target> OUTPUT <file.exe>
#                    [FILE_VERSION <text>] [PRODUCT_VERSION <text>] [TRANSLATION <key>]
#                    [MINIMAL] [NO_VERSION] [OPTIONS <make_vennic_exe.sh options>...])
# Adds the custom target <target> that makes <file.exe> with the given texts in the string
# table <key> (default 080403A8); OPTIONS go to the script as they are, after the others.
# Only when QUORVEL_CAN_MAKE_VENNIC_EXE is ON.
function(quorvel_vennic_exe target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "MINIMAL;NO_VERSION"
                          "OUTPUT;FILE_VERSION;PRODUCT_VERSION;TRANSLATION" "OPTIONS")
    if(NOT arg_OUTPUT)
        message(FATAL_ERROR "quorvel_vennic_exe(${target}): OUTPUT is required")
    endif()
    if(NOT QUORVEL_CAN_MAKE_VENNIC_EXE)
        message(FATAL_ERROR "quorvel_vennic_exe(${target}): MinGW (i686) is not installed")
    endif()
    set(script ${PROJECT_SOURCE_DIR}/scripts/make_vennic_exe.sh)
    set(options)
    if(arg_TRANSLATION)
        list(APPEND options --table ${arg_TRANSLATION})
    endif()
    if(DEFINED arg_FILE_VERSION)
        list(APPEND options --file-version ${arg_FILE_VERSION})
    endif()
    if(DEFINED arg_PRODUCT_VERSION)
        list(APPEND options --product-version ${arg_PRODUCT_VERSION})
    endif()
    if(arg_MINIMAL)
        list(APPEND options --minimal)
    endif()
    if(arg_NO_VERSION)
        list(APPEND options --no-version)
    endif()
    list(APPEND options ${arg_OPTIONS})
    add_custom_command(
        OUTPUT ${arg_OUTPUT}
        COMMAND ${QUORVEL_BASH} ${script} ${options} ${arg_OUTPUT}
        DEPENDS ${script}
        COMMENT "Making ${arg_OUTPUT}"
        VERBATIM)
    add_custom_target(${target} DEPENDS ${arg_OUTPUT})
endfunction()
