# Packages of the two programs and a short README:
#   cmake --build --preset windows && cpack --preset windows
#       -> build/windows/packages/quorvel-<version>-win32.zip
#   cmake --build --preset default && cpack --preset default
#       -> build/default/packages/quorvel-<version>-linux-<processor>.tar.gz
install(TARGETS quorvel dbrtool RUNTIME DESTINATION .)

if(WIN32)
    set(QUORVEL_EXE_SUFFIX ".exe")
    # Notepad on older Windows shows a README with bare LF line ends as one line.
    set(_readme_newlines CRLF)
    set(QUORVEL_DIALOG_NOTE "")
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win32)
    set(_extension .zip)
else()
    set(QUORVEL_EXE_SUFFIX "")
    set(_readme_newlines UNIX)
    set(QUORVEL_DIALOG_NOTE "\n    Outside Windows the dialog is drawn on the terminal.")
    set(CPACK_GENERATOR TGZ)
    set(_extension .tar.gz)
    string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/package-README.txt.in
               ${CMAKE_BINARY_DIR}/package/README.txt @ONLY NEWLINE_STYLE ${_readme_newlines})
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION .)

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Upgrades the local databases of the Vennic client")
set(_package_name "quorvel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
set(CPACK_PACKAGE_FILE_NAME ${_package_name})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# The programs without their debugging information: a tenth of the size.
set(CPACK_STRIP_FILES ON)
include(CPack)

if(BUILD_TESTING)
    add_test(NAME package_contents
        COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND}
            -DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake -DWORK=${CMAKE_BINARY_DIR}/package-test
            -DNAME=${_package_name} -DEXTENSION=${_extension} -DVERSION=${PROJECT_VERSION}
            "-DFILES=README.txt;quorvel${QUORVEL_EXE_SUFFIX};dbrtool${QUORVEL_EXE_SUFFIX}"
            -P ${CMAKE_CURRENT_LIST_DIR}/check-package.cmake)
    set_tests_properties(package_contents PROPERTIES TIMEOUT 300)
endif()
