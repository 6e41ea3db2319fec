# Run by CPack before it makes a package: a package for users trusts the publisher's key, or
# says by name that it accepts unsigned definitions.
if(NOT CPACK_FW_TRUSTED_KEYS AND NOT CPACK_FW_ALLOW_UNSIGNED_DEFINITIONS)
  message(FATAL_ERROR
    "This build trusts no publisher key, so the package would install whatever definitions and "
    "updaters a server or a network attacker serves. Configure the build with the publisher's "
    "public key: cmake -DFW_TRUSTED_KEYS=/path/to/publisher.pub (a PEM file of public keys, "
    "made by 'fablewright-publish keygen'). To package a build that accepts unsigned "
    "definitions all the same, configure it with -DFW_ALLOW_UNSIGNED_DEFINITIONS=ON.")
endif()
