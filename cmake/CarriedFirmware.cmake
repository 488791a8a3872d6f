# The firmware the program carries: a release supplied by the firmware team, or else the
# development firmware that make_firmware generates. check_firmware checks it with the product's
# own parsers at every build, whatever the supplied files' dates (a release replaced in place by
# an older file is checked too; the check is cheap), and writes the checked copies where the
# resources take them only when it passes, each only when its content changed.
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

set(firmware_arguments)
foreach(kind IN ITEMS dfu bin)
    set(variable ORVANTA_FIRMWARE)
    if(kind STREQUAL "bin")
        set(variable ORVANTA_FIRMWARE_BIN)
    endif()
    if(${variable})
        if(NOT EXISTS "${${variable}}" OR IS_DIRECTORY "${${variable}}")
            message(FATAL_ERROR "Firmware refused: ${variable} names ${${variable}}, which is no file")
        endif()
        file(SHA256 "${${variable}}" digest)
        message(STATUS "Firmware: ${variable} ${${variable}} (SHA-256 ${digest}), checked when built")
        list(APPEND firmware_arguments --${kind} "${${variable}}")
    endif()
endforeach()
set(development_firmware)
if(NOT firmware_arguments)
    set(DEVELOPMENT_FIRMWARE_DIR "${CMAKE_BINARY_DIR}/generated/development_firmware")
    file(MAKE_DIRECTORY "${DEVELOPMENT_FIRMWARE_DIR}")
    set(development_firmware "${DEVELOPMENT_FIRMWARE_DIR}/firmware.dfu" "${DEVELOPMENT_FIRMWARE_DIR}/firmware.bin")
    set(firmware_arguments --dfu "${DEVELOPMENT_FIRMWARE_DIR}/firmware.dfu"
        --bin "${DEVELOPMENT_FIRMWARE_DIR}/firmware.bin")
    add_custom_command(
        OUTPUT ${development_firmware}
        COMMAND ${TOOL_ENV} $<TARGET_FILE:make_firmware> "${DEVELOPMENT_FIRMWARE_DIR}"
        DEPENDS make_firmware
        COMMENT "Generating the development firmware (firmware.bin, firmware.dfu)")
    message(STATUS "Firmware: no release supplied (ORVANTA_FIRMWARE, ORVANTA_FIRMWARE_BIN): "
        "the build carries the generated development firmware")
endif()
if(ORVANTA_FIRMWARE_SHA256)
    list(APPEND firmware_arguments --sha256 "${ORVANTA_FIRMWARE_SHA256}")
    message(STATUS "Firmware: SHA-256 pinned to ${ORVANTA_FIRMWARE_SHA256}")
endif()

# The DfuSe file, its raw image and the DfuSe file's SHA-256, which the program reads instead of
# hashing the file at start-up.
set(ORVANTA_CARRIED_FIRMWARE "${GEN_DIR}/firmware.dfu" "${GEN_DIR}/firmware.bin" "${GEN_DIR}/firmware.sha256")
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
