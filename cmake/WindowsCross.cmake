# The rest of the Windows cross build: GoogleTest compiled from Debian's sources, and the
# tests run under Wine.

# Every test program registered with add_test(NAME ... COMMAND target) runs through this
# wrapper: a private Wine prefix in the build tree, the Simplified Chinese locale (ANSI
# code page 936). Must be set before the first add_executable.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine")
endif()

if(BUILD_TESTING AND NOT TARGET GTest::gtest_main)
    # Debian ships GoogleTest for MinGW only as source. It defines GTest::gtest and
    # GTest::gtest_main itself, so the tests link as in the native build.
    set(QUORVEL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree")
    if(NOT EXISTS "${QUORVEL_GOOGLETEST_SOURCE}/CMakeLists.txt")
        message(FATAL_ERROR "GoogleTest's source is missing in ${QUORVEL_GOOGLETEST_SOURCE}: "
                            "install googletest (scripts/test.sh does)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory("${QUORVEL_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/_deps/googletest"
                     EXCLUDE_FROM_ALL SYSTEM)
endif()

if(BUILD_TESTING)
    # The programs must run with no DLL beside them: every executable the build made may
    # import only Windows' own DLLs.
    add_test(NAME windows_static_imports
             COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/check-imports.sh" "${CMAKE_OBJDUMP}"
                     "${CMAKE_BINARY_DIR}")
endif()
