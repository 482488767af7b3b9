# Warnings apply to C and C++ only: windres would choke on them.
add_compile_options(
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall>
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wextra>
)
# GCC 12 reports -Wrestrict falsely on inlined std::basic_string code (GCC bug 105651).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()
if(QUORVEL_WERROR)
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
endif()
if(QUORVEL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# Our own targets get the project's include root; quorvel_target() keeps that in one place.
function(quorvel_target target)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    if(WIN32)
        target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX
                                   WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601
                                   __USE_MINGW_ANSI_STDIO=1)
    endif()
endfunction()
