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
list(LENGTH tovrak_firmware_keys tovrak_firmware_key_count)
message(STATUS "Trusted firmware keys: ${tovrak_firmware_key_count}")

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
