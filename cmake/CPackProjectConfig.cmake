# Read by cpack when it makes the package (CPACK_PROJECT_CONFIG_FILE): the version, which names
# the firmware checked at build time and so is known only then.
include("${CPACK_ORVANTA_SOURCE_DIR}/cmake/PackageVersion.cmake")
orvanta_package_version("${CPACK_ORVANTA_FIRMWARE_IDENTITY}" "${CPACK_ORVANTA_PROJECT_VERSION}"
    CPACK_PACKAGE_VERSION)
set(CPACK_DEBIAN_PACKAGE_VERSION "${CPACK_PACKAGE_VERSION}")
