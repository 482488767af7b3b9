# qv_sqlite3: SQLite for the Windows build, compiled from the amalgamation that
# sqlite-amalgamation.sh generates out of Debian's sqlite3 source package.
#
# The generated files are kept in QUORVEL_SQLITE_DIR, outside the source tree; the build
# generates them only when they are missing. Point QUORVEL_SQLITE_DIR at a folder that
# already holds sqlite3.c and sqlite3.h (and a file source-version) to use those instead.

# The version of the native build's SQLite, so that both builds run the same code.
execute_process(
    COMMAND dpkg-query -W -f=\${source:Version} libsqlite3-dev
    OUTPUT_VARIABLE _sqlite_version
    RESULT_VARIABLE _sqlite_version_result
    ERROR_QUIET)
if(NOT _sqlite_version_result EQUAL 0)
    set(_sqlite_version "")
endif()
if(_sqlite_version)
    set(_sqlite_folder "sqlite3-${_sqlite_version}")
else()
    set(_sqlite_folder "sqlite3-debian")
endif()
set(QUORVEL_SQLITE_DIR "${CMAKE_BINARY_DIR}/_deps/${_sqlite_folder}" CACHE PATH
    "Folder of the generated SQLite amalgamation")

add_custom_command(
    OUTPUT "${QUORVEL_SQLITE_DIR}/sqlite3.c" "${QUORVEL_SQLITE_DIR}/sqlite3.h"
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/sqlite-amalgamation.sh" "${QUORVEL_SQLITE_DIR}"
            "${_sqlite_version}"
    COMMENT "SQLite amalgamation from Debian's sqlite3 source ${_sqlite_version}"
    VERBATIM)

add_library(qv_sqlite3 STATIC "${QUORVEL_SQLITE_DIR}/sqlite3.c" "${QUORVEL_SQLITE_DIR}/sqlite3.h")
target_include_directories(qv_sqlite3 SYSTEM PUBLIC "${QUORVEL_SQLITE_DIR}")
# Debian's own feature set (debian/rules and its configure options), so that a statement
# behaves alike in both builds.
target_compile_definitions(qv_sqlite3 PRIVATE
    SQLITE_SECURE_DELETE
    SQLITE_ENABLE_COLUMN_METADATA
    SQLITE_ENABLE_FTS3
    SQLITE_ENABLE_FTS3_PARENTHESIS
    SQLITE_ENABLE_FTS3_TOKENIZER=1
    SQLITE_ENABLE_FTS4
    SQLITE_ENABLE_FTS5
    SQLITE_ENABLE_RTREE=1
    SQLITE_SOUNDEX=1
    SQLITE_ENABLE_UNLOCK_NOTIFY
    SQLITE_OMIT_LOOKASIDE=1
    SQLITE_ENABLE_DBSTAT_VTAB
    SQLITE_ALLOW_ROWID_IN_VIEW
    SQLITE_ENABLE_UPDATE_DELETE_LIMIT=1
    SQLITE_ENABLE_JSON1
    SQLITE_ENABLE_MATH_FUNCTIONS
    SQLITE_LIKE_DOESNT_MATCH_BLOBS
    SQLITE_THREADSAFE=1
    SQLITE_USE_URI=1
    SQLITE_MAX_SCHEMA_RETRY=25
    SQLITE_ENABLE_PREUPDATE_HOOK
    SQLITE_ENABLE_SESSION
    SQLITE_ENABLE_STMTVTAB
    SQLITE_MAX_VARIABLE_NUMBER=250000
)
# SQLite is not our code: optimise it in every configuration (an unoptimised sqlite3.c
# makes the tests crawl), without debug information (a quarter of the build's critical
# path) and without its warnings in the build log.
target_compile_options(qv_sqlite3 PRIVATE -O2 -g0 -fno-strict-aliasing -w)
