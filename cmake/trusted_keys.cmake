# The public keys the program trusts, built into it. FW_TRUSTED_KEYS names a PEM file of one or
# more public keys ("-----BEGIN PUBLIC KEY-----"); empty builds a program that checks no
# signature, as before signed definitions existed. Nothing at run time can add to these keys.
set(FW_TRUSTED_KEYS "" CACHE FILEPATH
    "PEM file of the public keys whose signatures the update definitions must carry")

# A package for users must check what it installs: CPack refuses to package a build without
# trusted keys unless this says, by name, that the package accepts unsigned definitions.
option(FW_ALLOW_UNSIGNED_DEFINITIONS
       "Allow packaging a build without trusted keys, which accepts unsigned definitions" OFF)

set(fw_trusted_pem "")
if(FW_TRUSTED_KEYS)
  if(NOT EXISTS "${FW_TRUSTED_KEYS}")
    message(FATAL_ERROR "FW_TRUSTED_KEYS: ${FW_TRUSTED_KEYS} does not exist")
  endif()
  file(READ "${FW_TRUSTED_KEYS}" fw_trusted_pem)
  if(fw_trusted_pem MATCHES "PRIVATE KEY")
    message(FATAL_ERROR "FW_TRUSTED_KEYS: ${FW_TRUSTED_KEYS} holds a private key; "
                        "give the public keys only")
  endif()
  string(REGEX MATCHALL "-----BEGIN PUBLIC KEY-----" fw_begins "${fw_trusted_pem}")
  string(REGEX MATCHALL "-----END PUBLIC KEY-----" fw_ends "${fw_trusted_pem}")
  list(LENGTH fw_begins fw_begin_count)
  list(LENGTH fw_ends fw_end_count)
  if(fw_begin_count EQUAL 0 OR NOT fw_begin_count EQUAL fw_end_count)
    message(FATAL_ERROR "FW_TRUSTED_KEYS: ${FW_TRUSTED_KEYS} holds no complete PUBLIC KEY block")
  endif()
  if(NOT fw_trusted_pem MATCHES "^[-A-Za-z0-9+/= \r\n\t]*$")
    message(FATAL_ERROR "FW_TRUSTED_KEYS: ${FW_TRUSTED_KEYS} holds more than PEM public keys")
  endif()
  message(STATUS "Trusted keys: ${fw_begin_count} from ${FW_TRUSTED_KEYS}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${FW_TRUSTED_KEYS}")
endif()

# The text goes in as data of the program itself, on every host.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/builtin_keys_data.cpp CONTENT
"// Made by cmake/trusted_keys.cmake from FW_TRUSTED_KEYS; changes here are overwritten.
#include \"app/builtin_keys.h\"

namespace fw {

std::string_view BuiltInTrustedKeysPem() {
    return R\"fwpem(@fw_trusted_pem@)fwpem\";
}

}  // namespace fw
" @ONLY)
add_library(fw_builtin_keys STATIC ${CMAKE_BINARY_DIR}/generated/builtin_keys_data.cpp)
target_include_directories(fw_builtin_keys PUBLIC ${PROJECT_SOURCE_DIR})
fw_strict(fw_builtin_keys)
