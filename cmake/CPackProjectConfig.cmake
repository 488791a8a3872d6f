# Read by cpack when it makes the package (CPACK_PROJECT_CONFIG_FILE): the version and the
# description's words on the firmware, both checked at build time and so known only then.
include("${CPACK_ORVANTA_SOURCE_DIR}/cmake/PackageVersion.cmake")
orvanta_package_version("${CPACK_ORVANTA_FIRMWARE_IDENTITY}" "${CPACK_ORVANTA_PROJECT_VERSION}"
    CPACK_PACKAGE_VERSION)
set(CPACK_DEBIAN_PACKAGE_VERSION "${CPACK_PACKAGE_VERSION}")

# Which firmware, and who signed it: a package of the development firmware says so in its
# summary too, so that it cannot pass for a release in a list of packages.
include("${CPACK_ORVANTA_FIRMWARE_IDENTITY}")
string(APPEND CPACK_PACKAGE_DESCRIPTION "\n\n"
    "It carries the firmware ${ORVANTA_FIRMWARE_NAME} revision ${ORVANTA_FIRMWARE_REVISION} "
    "for the ${ORVANTA_FIRMWARE_PRODUCT},\n${ORVANTA_FIRMWARE_SIGNER}.")
if(ORVANTA_FIRMWARE_DEVELOPMENT)
    string(APPEND CPACK_PACKAGE_DESCRIPTION_SUMMARY " (${ORVANTA_FIRMWARE_KEY_ID})")
endif()
