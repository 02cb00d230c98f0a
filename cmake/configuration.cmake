# The build's own configuration: where the reboot counter lives, which of the two leftovers of the
# setups it was first made for it removes, and the version block's texts. The defaults are the
# program as it has always been. Everything is checked here, before anything is built, and written
# to selfclean_config.h for the sources and to selfclean-configuration.txt for scripts/build.

set(SELFCLEAN_COUNTER_KEY "SOFTWARE\\Tarnwick\\Quorvane Stelmark Backup\\Install" CACHE STRING
    "Key under HKEY_LOCAL_MACHINE (32-bit view) that holds the reboot counter")
set(SELFCLEAN_COUNTER_VALUE "waitingreboot" CACHE STRING "The counter's value name")
set(SELFCLEAN_COUNTER_PARENT "" CACHE STRING
    "Key opened to delete the counter's key once nothing is pending (empty: the key directly above it)")
option(SELFCLEAN_REMOVE_HOST_INI "Delete HOST.INI from the Windows directory" ON)
option(SELFCLEAN_REMOVE_KVOPTEMP "Remove an empty kvoptemp folder beside the inherited current folder" ON)
set(SELFCLEAN_COMPANY_NAME "selfclean developers" CACHE STRING "The version block's company")
set(SELFCLEAN_PRODUCT_NAME "selfclean" CACHE STRING "The version block's product")
set(SELFCLEAN_FILE_DESCRIPTION "Runs a command line, then removes its staging folder" CACHE STRING
    "The version block's description")

# The longest texts that still leave the program within 24 KiB in every combination
# (tests/check-configuration.sh builds the largest one).
set(SELFCLEAN_KEY_LIMIT 160)
set(SELFCLEAN_VALUE_LIMIT 64)
set(SELFCLEAN_NAME_LIMIT 64)
set(SELFCLEAN_DESCRIPTION_LIMIT 128)

function(selfclean_configuration_error option text)
    message(FATAL_ERROR "${option}: ${text}")
endfunction()

# Printable ASCII without the quote: the program passes the names to the registry's ANSI calls,
# and the texts go into string literals unescaped.
function(selfclean_check_text option value limit)
    string(LENGTH "${value}" length)
    if(length EQUAL 0)
        selfclean_configuration_error(${option} "must not be empty")
    endif()
    if(length GREATER limit)
        selfclean_configuration_error(${option}
            "${length} characters, more than the ${limit} that fit the program's 24 KiB")
    endif()
    if(NOT value MATCHES "^[ !#-~]+$")
        selfclean_configuration_error(${option}
            "only printable ASCII characters other than \" may be used: \"${value}\"")
    endif()
endfunction()

# A key of the adopter's own below SOFTWARE, never one of the system's: the last count-down deletes
# the counter's key. levels: how many names at least follow SOFTWARE\.
function(selfclean_check_key option key levels example)
    selfclean_check_text(${option} "${key}" ${SELFCLEAN_KEY_LIMIT})
    string(TOUPPER "${key}" upper)
    if(key MATCHES "\\\\\\\\|\\\\$| $|\\\\ | \\\\")
        selfclean_configuration_error(${option}
            "\"${key}\" has an empty name, a trailing backslash or a name with blanks at its ends")
    endif()
    string(REPEAT "\\\\[^\\\\]+" ${levels} names)
    if(NOT upper MATCHES "^SOFTWARE${names}")
        selfclean_configuration_error(${option}
            "\"${key}\" does not lie below SOFTWARE\\ deeply enough (at least ${example})")
    endif()
    if(upper MATCHES "^SOFTWARE\\\\(MICROSOFT|CLASSES|POLICIES|WOW6432NODE|WOW3264NODE)(\\\\|$)")
        selfclean_configuration_error(${option} "\"${key}\" lies in a key that Windows owns")
    endif()
endfunction()

# Installer detection takes a 32-bit program without a manifest whose version texts hold one of
# these words for an installer, and asks for elevation before it starts.
function(selfclean_check_version_text option value limit)
    selfclean_check_text(${option} "${value}" ${limit})
    if(value MATCHES "\\\\")
        selfclean_configuration_error(${option} "\"${value}\" holds a backslash")
    endif()
    string(TOLOWER "${value}" lower)
    if(lower MATCHES "(install|setup|update|upgrade|patch)")
        selfclean_configuration_error(${option} "\"${value}\" holds \"${CMAKE_MATCH_1}\", which "
            "makes Windows take the program for an installer that must run elevated")
    endif()
endfunction()

selfclean_check_key(SELFCLEAN_COUNTER_KEY "${SELFCLEAN_COUNTER_KEY}" 2
    "SOFTWARE\\Company\\Product")
selfclean_check_text(SELFCLEAN_COUNTER_VALUE "${SELFCLEAN_COUNTER_VALUE}" ${SELFCLEAN_VALUE_LIMIT})
set(counter_parent "${SELFCLEAN_COUNTER_PARENT}")
if(counter_parent STREQUAL "")
    string(REGEX REPLACE "\\\\[^\\\\]+$" "" counter_parent "${SELFCLEAN_COUNTER_KEY}")
endif()
selfclean_check_key(SELFCLEAN_COUNTER_PARENT "${counter_parent}" 1 "SOFTWARE\\Company")
# Names are never empty and never end in a blank or backslash (checked above), so a key that
# starts with the parent and a backslash has a subkey below it.
string(LENGTH "${counter_parent}\\" subkey_start)
string(SUBSTRING "${SELFCLEAN_COUNTER_KEY}" 0 ${subkey_start} key_start)
string(TOUPPER "${key_start}" key_start)
string(TOUPPER "${counter_parent}\\" parent_upper)
if(NOT key_start STREQUAL parent_upper)
    selfclean_configuration_error(SELFCLEAN_COUNTER_PARENT
        "\"${counter_parent}\" is not a key above \"${SELFCLEAN_COUNTER_KEY}\"")
endif()
string(SUBSTRING "${SELFCLEAN_COUNTER_KEY}" ${subkey_start} -1 counter_subkey)
selfclean_check_version_text(SELFCLEAN_COMPANY_NAME "${SELFCLEAN_COMPANY_NAME}"
    ${SELFCLEAN_NAME_LIMIT})
selfclean_check_version_text(SELFCLEAN_PRODUCT_NAME "${SELFCLEAN_PRODUCT_NAME}"
    ${SELFCLEAN_NAME_LIMIT})
selfclean_check_version_text(SELFCLEAN_FILE_DESCRIPTION "${SELFCLEAN_FILE_DESCRIPTION}"
    ${SELFCLEAN_DESCRIPTION_LIMIT})

# As C string literals: the keys' backslashes doubled.
function(selfclean_c_literal variable value)
    string(REPLACE "\\" "\\\\" value "${value}")
    set(${variable} "\"${value}\"" PARENT_SCOPE)
endfunction()
selfclean_c_literal(COUNTER_KEY_LITERAL "${SELFCLEAN_COUNTER_KEY}")
selfclean_c_literal(COUNTER_PARENT_LITERAL "${counter_parent}")
selfclean_c_literal(COUNTER_SUBKEY_LITERAL "${counter_subkey}")
selfclean_c_literal(COUNTER_VALUE_LITERAL "${SELFCLEAN_COUNTER_VALUE}")
foreach(option IN ITEMS SELFCLEAN_REMOVE_HOST_INI SELFCLEAN_REMOVE_KVOPTEMP)
    if(${option})
        set(${option}_VALUE 1)
    else()
        set(${option}_VALUE 0)
    endif()
endforeach()

set(SELFCLEAN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/selfclean_config.h.in
    ${SELFCLEAN_GENERATED_DIR}/selfclean_config.h @ONLY)

function(selfclean_yes_no variable value)
    if(value)
        set(${variable} "removed" PARENT_SCOPE)
    else()
        set(${variable} "left alone" PARENT_SCOPE)
    endif()
endfunction()
selfclean_yes_no(host_ini_removed ${SELFCLEAN_REMOVE_HOST_INI})
selfclean_yes_no(kvoptemp_removed ${SELFCLEAN_REMOVE_KVOPTEMP})
file(WRITE ${CMAKE_BINARY_DIR}/selfclean-configuration.txt
    "counter   HKLM\\${SELFCLEAN_COUNTER_KEY} value ${SELFCLEAN_COUNTER_VALUE} (32-bit view)\n"
    "deletes   ${counter_subkey} from HKLM\\${counter_parent}\n"
    "HOST.INI  ${host_ini_removed}\n"
    "kvoptemp  ${kvoptemp_removed}\n"
    "company   ${SELFCLEAN_COMPANY_NAME}\n"
    "product   ${SELFCLEAN_PRODUCT_NAME}\n"
    "describes ${SELFCLEAN_FILE_DESCRIPTION}\n")

# The same configuration as an initial cache (cmake -C), for another build of the same program;
# forced, so that it also takes the place of what a build folder was configured with before.
set(options_file "")
foreach(option IN ITEMS SELFCLEAN_COUNTER_KEY SELFCLEAN_COUNTER_VALUE SELFCLEAN_COUNTER_PARENT
        SELFCLEAN_REMOVE_HOST_INI SELFCLEAN_REMOVE_KVOPTEMP SELFCLEAN_COMPANY_NAME
        SELFCLEAN_PRODUCT_NAME SELFCLEAN_FILE_DESCRIPTION)
    string(REPLACE "\\" "\\\\" value "${${option}}")
    string(APPEND options_file "set(${option} \"${value}\" CACHE STRING \"\" FORCE)\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/selfclean-options.cmake "${options_file}")
