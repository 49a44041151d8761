# One version for everything that ships: VERSION holds the release
# (MAJOR.MINOR.PATCH) and the fourth number counts the commits made since
# VERSION last changed, so every build between two releases is told apart
# and a release bump starts the count again at 0. Computed at configure
# time; without git (a source archive) the count is 0 unless
# HALVENCAP_BUILD_NUMBER gives it.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../VERSION" HALVENCAP_RELEASE LIMIT_COUNT 1)
string(STRIP "${HALVENCAP_RELEASE}" HALVENCAP_RELEASE)
if(NOT HALVENCAP_RELEASE MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "VERSION must hold MAJOR.MINOR.PATCH, not '${HALVENCAP_RELEASE}'")
endif()
set(HALVENCAP_VERSION_MAJOR ${CMAKE_MATCH_1})
set(HALVENCAP_VERSION_MINOR ${CMAKE_MATCH_2})
set(HALVENCAP_VERSION_PATCH ${CMAKE_MATCH_3})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/../VERSION")

set(HALVENCAP_BUILD_NUMBER "" CACHE STRING "Fourth version number where git cannot count it")
set(_count "")
if(HALVENCAP_BUILD_NUMBER STREQUAL "")
    find_package(Git QUIET)
    if(GIT_FOUND)
        set(_src "${CMAKE_CURRENT_LIST_DIR}/..")
        execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%H -- VERSION
            WORKING_DIRECTORY "${_src}" OUTPUT_VARIABLE _since OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE _rc ERROR_QUIET)
        if(_rc EQUAL 0)
            # VERSION not committed yet: the release it names starts now.
            if(_since STREQUAL "")
                set(_count 0)
            else()
                execute_process(COMMAND "${GIT_EXECUTABLE}" rev-list --count "${_since}..HEAD"
                    WORKING_DIRECTORY "${_src}" OUTPUT_VARIABLE _count OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE _rc ERROR_QUIET)
                if(NOT _rc EQUAL 0)
                    set(_count "")
                endif()
            endif()
        endif()
    endif()
    if(_count STREQUAL "")
        set(_count 0)
        message(STATUS "Halvencap: git cannot count the commits here; build number 0")
    endif()
else()
    set(_count ${HALVENCAP_BUILD_NUMBER})
endif()
# A version resource holds 16 bits per number.
if(_count GREATER 65535)
    set(_count 65535)
endif()
set(HALVENCAP_VERSION_BUILD ${_count})
set(HALVENCAP_VERSION
    "${HALVENCAP_VERSION_MAJOR}.${HALVENCAP_VERSION_MINOR}.${HALVENCAP_VERSION_PATCH}.${HALVENCAP_VERSION_BUILD}")
message(STATUS "Halvencap version ${HALVENCAP_VERSION}")
# For scripts that package a build (scripts/release.sh).
file(WRITE "${CMAKE_BINARY_DIR}/halvencap-version.txt" "${HALVENCAP_VERSION}\n")

string(TIMESTAMP HALVENCAP_YEAR "%Y" UTC)

# Gives a Windows target its version resource: the file's description, its
# own file name and the common version fields.
function(halvencap_version_resource target description filename filetype)
    set(HALVENCAP_FILE_DESCRIPTION "${description}")
    set(HALVENCAP_ORIGINAL_FILENAME "${filename}")
    set(HALVENCAP_FILE_TYPE "${filetype}")
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc")
    configure_file("${HALVENCAP_VERSION_TEMPLATE}" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()
set(HALVENCAP_VERSION_TEMPLATE "${CMAKE_CURRENT_LIST_DIR}/VersionInfo.rc.in")
