# Run at build time (cmake -P) once the firmware is checked: the package's texts that say which
# firmware it carries, the metainfo, the manual pages and the Debian changelog, from their
# templates in packaging/linux/. Given with -D: IDENTITY, PROJECT_VERSION, PACKAGING_DIR,
# OUT_DIR, APP_ID, PACKAGE_NAME, ORVANTA_PACKAGE_MAINTAINER, ORVANTA_RELEASE_DATE and
# ORVANTA_RELEASE_DATE_RFC2822.
include("${CMAKE_CURRENT_LIST_DIR}/PackageVersion.cmake")
include("${IDENTITY}")
orvanta_package_version("${IDENTITY}" "${PROJECT_VERSION}" ORVANTA_PACKAGE_VERSION)
configure_file("${PACKAGING_DIR}/${APP_ID}.metainfo.xml.in" "${OUT_DIR}/${APP_ID}.metainfo.xml" @ONLY)
configure_file("${PACKAGING_DIR}/${PACKAGE_NAME}.1.in" "${OUT_DIR}/${PACKAGE_NAME}.1" @ONLY)
configure_file("${PACKAGING_DIR}/orvanta-upgrade.1.in" "${OUT_DIR}/orvanta-upgrade.1" @ONLY)
configure_file("${PACKAGING_DIR}/changelog.in" "${OUT_DIR}/changelog" @ONLY)
