# The fuzz build: libFuzzer instruments all code (fuzzer-no-link), the fuzz targets link
# its driver; AddressSanitizer and UndefinedBehaviorSanitizer turn silent faults into
# crashes the fuzzer reports.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUORVEL_FUZZ needs Clang (use the preset \"fuzz\")")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
