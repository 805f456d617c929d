# The minisign public keys whose signatures make a firmware file loadable, and libsodium, which
# checks them.
#
# TOVRAK_FIRMWARE_PUBLIC_KEYS holds the "RW..." lines of the makers' minisign .pub files,
# separated by semicolons or spaces (several keys: a new key and the one it replaces). Empty:
# the program loads every valid firmware file and only reports signatures.
set(TOVRAK_FIRMWARE_PUBLIC_KEYS "" CACHE STRING
    "minisign public keys (RW... text) of the firmware makers; empty: signatures are only reported")

string(REGEX REPLACE "[ \t\r\n,;]+" ";" tovrak_firmware_keys "${TOVRAK_FIRMWARE_PUBLIC_KEYS}")
list(FILTER tovrak_firmware_keys EXCLUDE REGEX "^$")
foreach(key ${tovrak_firmware_keys})
    # A minisign public key is base64 of "Ed", an 8-byte key id and a 32-byte Ed25519 key.
    if(NOT key MATCHES "^RW[A-Za-z0-9+/]+$")
        message(FATAL_ERROR "TOVRAK_FIRMWARE_PUBLIC_KEYS: '${key}' is not a minisign public key (RW..., 56 characters)")
    endif()
    string(LENGTH "${key}" key_length)
    if(NOT key_length EQUAL 56)
        message(FATAL_ERROR "TOVRAK_FIRMWARE_PUBLIC_KEYS: '${key}' is not a minisign public key (RW..., 56 characters)")
    endif()
endforeach()
string(REPLACE ";" " " TOVRAK_FIRMWARE_PUBLIC_KEYS_TEXT "${tovrak_firmware_keys}")

# The key id as minisign prints it (bytes 2 to 9 of the decoded key, as a little-endian
# number), for texts written at build time such as the package's --version line.
function(tovrak_minisign_key_id key out)
    set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
    set(bytes)
    foreach(group 0 4 8 12)
        set(value 0)
        foreach(offset 0 1 2 3)
            math(EXPR at "${group} + ${offset}")
            string(SUBSTRING "${key}" ${at} 1 c)
            string(FIND "${alphabet}" "${c}" index)
            math(EXPR value "(${value} << 6) | ${index}")
        endforeach()
        foreach(shift 16 8 0)
            math(EXPR byte "(${value} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
            string(SUBSTRING "${byte}" 2 -1 byte)
            string(LENGTH "${byte}" length)
            if(length EQUAL 1)
                set(byte "0${byte}")
            endif()
            list(APPEND bytes ${byte})
        endforeach()
    endforeach()
    set(id "")
    foreach(i 9 8 7 6 5 4 3 2)
        list(GET bytes ${i} byte)
        string(APPEND id "${byte}")
    endforeach()
    string(TOUPPER "${id}" id)
    set(${out} "${id}" PARENT_SCOPE)
endfunction()
set(TOVRAK_FIRMWARE_KEY_IDS "")
foreach(key ${tovrak_firmware_keys})
    tovrak_minisign_key_id("${key}" id)
    string(APPEND TOVRAK_FIRMWARE_KEY_IDS " ${id}")
endforeach()
string(STRIP "${TOVRAK_FIRMWARE_KEY_IDS}" TOVRAK_FIRMWARE_KEY_IDS)
if(TOVRAK_FIRMWARE_KEY_IDS)
    set(TOVRAK_FIRMWARE_KEYS_VERSION_LINE "trusted firmware keys: ${TOVRAK_FIRMWARE_KEY_IDS}")
else()
    set(TOVRAK_FIRMWARE_KEYS_VERSION_LINE "")
endif()
list(LENGTH tovrak_firmware_keys tovrak_firmware_key_count)
message(STATUS "Trusted firmware keys: ${tovrak_firmware_key_count} ${TOVRAK_FIRMWARE_KEY_IDS}")

# libsodium: Debian's libsodium-dev on Linux; a static library built for the target (in
# TOVRAK_WINDOWS_DEPS) for Windows.
add_library(tovrak_sodium INTERFACE)
if(WIN32)
    find_path(SODIUM_INCLUDE_DIR sodium.h REQUIRED)
    find_library(SODIUM_LIBRARY NAMES libsodium.a sodium REQUIRED)
    target_include_directories(tovrak_sodium INTERFACE ${SODIUM_INCLUDE_DIR})
    # libsodium takes its random numbers from advapi32 (RtlGenRandom).
    target_link_libraries(tovrak_sodium INTERFACE ${SODIUM_LIBRARY} advapi32)
    target_compile_definitions(tovrak_sodium INTERFACE SODIUM_STATIC)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
    target_link_libraries(tovrak_sodium INTERFACE PkgConfig::SODIUM)
endif()
