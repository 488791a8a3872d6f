# The firmware the program carries: a release supplied and signed by the firmware team, or else
# the development firmware that make_firmware generates, the one firmware that may be unsigned.
# check_firmware checks it with the product's own parsers and the release's minisign signature
# against the trusted keys at every build, whatever the supplied files' dates (a release replaced
# in place by an older file is checked too; the check is cheap), and writes the checked copies
# where the resources take them only when it passes, each only when its content changed.
#
# Needs: the executable targets check_firmware and make_firmware, TOOL_ENV (the command prefix
# the tools run under) and GEN_DIR (where the resources are collected).
# Gives: the target carried_firmware, ORVANTA_CARRIED_FIRMWARE (the checked files it writes into
# GEN_DIR) and ORVANTA_FIRMWARE_IDENTITY (a CMake script naming the firmware, for the package).
set(ORVANTA_FIRMWARE "" CACHE FILEPATH "The firmware release to carry: its DfuSe file (.dfu)")
set(ORVANTA_FIRMWARE_BIN "" CACHE FILEPATH
    "The release's raw flash image (.bin); given alone, the DfuSe file is made from it")
set(ORVANTA_FIRMWARE_SHA256 "" CACHE STRING
    "The release's expected SHA-256: of ORVANTA_FIRMWARE, or of ORVANTA_FIRMWARE_BIN without it")
set(ORVANTA_FIRMWARE_SIGNATURE "" CACHE FILEPATH
    "The release's minisign signature (.minisig): of ORVANTA_FIRMWARE, or of ORVANTA_FIRMWARE_BIN without it")
# The keys the project trusts, one minisign public key file each, with a line on who holds it.
set(ORVANTA_TREE_TRUSTED_KEYS_DIR "${CMAKE_CURRENT_LIST_DIR}/../packaging/firmware-keys")
set(ORVANTA_FIRMWARE_TRUSTED_KEYS "" CACHE STRING
    "The minisign public key files a release may be signed by, replacing the tree's own (packaging/firmware-keys/*.pub)")

# A supplied file, named by its variable: it must be one, and is checked when built.
function(orvanta_supplied_file variable path)
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
        message(FATAL_ERROR "Firmware refused: ${variable} names ${path}, which is no file")
    endif()
    file(SHA256 "${path}" digest)
    message(STATUS "Firmware: ${variable} ${path} (SHA-256 ${digest}), checked when built")
endfunction()

set(firmware_arguments)
foreach(kind IN ITEMS dfu bin)
    set(variable ORVANTA_FIRMWARE)
    if(kind STREQUAL "bin")
        set(variable ORVANTA_FIRMWARE_BIN)
    endif()
    if(${variable})
        orvanta_supplied_file(${variable} "${${variable}}")
        list(APPEND firmware_arguments --${kind} "${${variable}}")
    endif()
endforeach()
set(development_firmware)
if(firmware_arguments)
    # A release: the check refuses it unsigned, or signed by a key not among these.
    if(ORVANTA_FIRMWARE_SIGNATURE)
        orvanta_supplied_file(ORVANTA_FIRMWARE_SIGNATURE "${ORVANTA_FIRMWARE_SIGNATURE}")
        list(APPEND firmware_arguments --signature "${ORVANTA_FIRMWARE_SIGNATURE}")
    endif()
    set(trusted_keys ${ORVANTA_FIRMWARE_TRUSTED_KEYS})
    if(NOT trusted_keys)
        file(GLOB trusted_keys "${ORVANTA_TREE_TRUSTED_KEYS_DIR}/*.pub")
    endif()
    foreach(key IN LISTS trusted_keys)
        orvanta_supplied_file(ORVANTA_FIRMWARE_TRUSTED_KEYS "${key}")
        list(APPEND firmware_arguments --trusted-key "${key}")
    endforeach()
else()
    if(ORVANTA_FIRMWARE_SIGNATURE)
        message(FATAL_ERROR "Firmware refused: ORVANTA_FIRMWARE_SIGNATURE names a signature, but "
            "no release is supplied (ORVANTA_FIRMWARE, ORVANTA_FIRMWARE_BIN)")
    endif()
    set(DEVELOPMENT_FIRMWARE_DIR "${CMAKE_BINARY_DIR}/generated/development_firmware")
    file(MAKE_DIRECTORY "${DEVELOPMENT_FIRMWARE_DIR}")
    set(development_firmware "${DEVELOPMENT_FIRMWARE_DIR}/firmware.dfu" "${DEVELOPMENT_FIRMWARE_DIR}/firmware.bin")
    set(firmware_arguments --dfu "${DEVELOPMENT_FIRMWARE_DIR}/firmware.dfu"
        --bin "${DEVELOPMENT_FIRMWARE_DIR}/firmware.bin" --development)
    add_custom_command(
        OUTPUT ${development_firmware}
        COMMAND ${TOOL_ENV} $<TARGET_FILE:make_firmware> "${DEVELOPMENT_FIRMWARE_DIR}"
        DEPENDS make_firmware
        COMMENT "Generating the development firmware (firmware.bin, firmware.dfu)")
    message(STATUS "Firmware: no release supplied (ORVANTA_FIRMWARE, ORVANTA_FIRMWARE_BIN): "
        "the build carries the generated development firmware, unsigned, which is no release")
endif()
if(ORVANTA_FIRMWARE_SHA256)
    list(APPEND firmware_arguments --sha256 "${ORVANTA_FIRMWARE_SHA256}")
    message(STATUS "Firmware: SHA-256 pinned to ${ORVANTA_FIRMWARE_SHA256}")
endif()

# The DfuSe file, its raw image, the DfuSe file's SHA-256, which the program reads instead of
# hashing the file at start-up, and the key id of its signer (or "development, unsigned").
set(ORVANTA_CARRIED_FIRMWARE "${GEN_DIR}/firmware.dfu" "${GEN_DIR}/firmware.bin"
    "${GEN_DIR}/firmware.sha256" "${GEN_DIR}/firmware.key_id")
set(ORVANTA_FIRMWARE_IDENTITY "${CMAKE_BINARY_DIR}/generated/firmware_identity.cmake")
# The one target that runs the check, always: the resources and the package's texts wait for it,
# so that it never runs twice at once. Its files are byproducts, not outputs, so that an
# unchanged file leaves everything that depends on it alone.
add_custom_target(carried_firmware
    COMMAND ${TOOL_ENV} $<TARGET_FILE:check_firmware> ${firmware_arguments}
        ${ORVANTA_CARRIED_FIRMWARE} "${ORVANTA_FIRMWARE_IDENTITY}"
    BYPRODUCTS ${ORVANTA_CARRIED_FIRMWARE} "${ORVANTA_FIRMWARE_IDENTITY}"
    DEPENDS ${development_firmware}
    COMMENT "Checking the firmware the build carries"
    VERBATIM)
add_dependencies(carried_firmware check_firmware)
