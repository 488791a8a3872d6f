# The installed program and everything installed with it, for a package build (ORVANTA_PACKAGE,
# tools/package.sh): the install rules, the files generated for them, and the Debian package
# made from them by CPack. The desktop files' sources are in packaging/linux/.

set(ORVANTA_PACKAGE_NAME "orvanta-firmware-upgrade-tool") # also the installed program's name
set(ORVANTA_PACKAGE_MAINTAINER "Orvanta Firmware Team <firmware@orvanta.com>" CACHE STRING
    "The Debian package's maintainer")
# The release that the project's version names, for the metainfo and the Debian changelog.
set(ORVANTA_RELEASE_DATE "2026-12-08")
set(ORVANTA_RELEASE_DATE_RFC2822 "Tue, 08 Dec 2026 12:00:00 +0000")
set(ORVANTA_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where udev rules are installed, relative to the installation prefix")

set(PACKAGING_DIR "${CMAKE_SOURCE_DIR}/packaging/linux")
set(PACKAGING_GEN_DIR "${CMAKE_BINARY_DIR}/generated/packaging")
set(DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${ORVANTA_PACKAGE_NAME}")

# A package's program runs the packaged simulator, never one of the build machine.
if(NOT ORVANTA_SIMULATOR_DIR STREQUAL "${CMAKE_INSTALL_PREFIX}/${ORVANTA_SIMULATOR_INSTALL_DIR}")
    message(FATAL_ERROR "ORVANTA_SIMULATOR_DIR is ${ORVANTA_SIMULATOR_DIR}, but the simulator is "
        "installed in ${CMAKE_INSTALL_PREFIX}/${ORVANTA_SIMULATOR_INSTALL_DIR}: configure the package "
        "tree afresh (tools/package.sh does)")
endif()

# Directories the installation creates get the usual modes, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# --- the program and its simulator ------------------------------------------------------------
set_target_properties(OrvantaFirmwareUpgradeTool PROPERTIES OUTPUT_NAME "${ORVANTA_PACKAGE_NAME}")
install(TARGETS OrvantaFirmwareUpgradeTool RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The command-line program for stations and scripts, beside it.
install(TARGETS orvanta-upgrade RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS orvanta_dfu_simulator RUNTIME DESTINATION "${ORVANTA_SIMULATOR_INSTALL_DIR}")
install(PROGRAMS "${ORVANTA_SIMULATOR_BUILD_DIR}/dfu-util_simulator.sh"
    DESTINATION "${ORVANTA_SIMULATOR_INSTALL_DIR}")

# --- access to the unit for the user at the seat ----------------------------------------------
install(FILES "${PACKAGING_DIR}/70-orvanta-firmware-upgrade-tool.rules"
    DESTINATION "${ORVANTA_UDEV_RULES_DIR}")

# --- desktop entry, icons, metainfo -----------------------------------------------------------
install(FILES "${PACKAGING_DIR}/${ORVANTA_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

# The texts that name the carried firmware are written once it is checked (cmake/PackageTexts.cmake).
set(METAINFO "${PACKAGING_GEN_DIR}/${ORVANTA_APP_ID}.metainfo.xml")
set(package_texts "${METAINFO}" "${PACKAGING_GEN_DIR}/${ORVANTA_PACKAGE_NAME}.1"
    "${PACKAGING_GEN_DIR}/orvanta-upgrade.1" "${PACKAGING_GEN_DIR}/changelog")
add_custom_command(
    OUTPUT ${package_texts}
    COMMAND ${CMAKE_COMMAND} "-DIDENTITY=${ORVANTA_FIRMWARE_IDENTITY}"
        "-DPROJECT_VERSION=${PROJECT_VERSION}" "-DPACKAGING_DIR=${PACKAGING_DIR}"
        "-DOUT_DIR=${PACKAGING_GEN_DIR}" "-DAPP_ID=${ORVANTA_APP_ID}"
        "-DPACKAGE_NAME=${ORVANTA_PACKAGE_NAME}"
        "-DORVANTA_PACKAGE_MAINTAINER=${ORVANTA_PACKAGE_MAINTAINER}"
        "-DORVANTA_RELEASE_DATE=${ORVANTA_RELEASE_DATE}"
        "-DORVANTA_RELEASE_DATE_RFC2822=${ORVANTA_RELEASE_DATE_RFC2822}"
        -P "${CMAKE_SOURCE_DIR}/cmake/PackageTexts.cmake"
    DEPENDS "${ORVANTA_FIRMWARE_IDENTITY}" "${CMAKE_SOURCE_DIR}/cmake/PackageTexts.cmake"
        "${CMAKE_SOURCE_DIR}/cmake/PackageVersion.cmake"
        "${PACKAGING_DIR}/${ORVANTA_APP_ID}.metainfo.xml.in"
        "${PACKAGING_DIR}/${ORVANTA_PACKAGE_NAME}.1.in" "${PACKAGING_DIR}/orvanta-upgrade.1.in"
        "${PACKAGING_DIR}/changelog.in"
    COMMENT "Writing the package's texts that name the carried firmware"
    VERBATIM)
install(FILES "${METAINFO}"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# The icon is drawn by the same code as the window's background, at every size a desktop asks for.
add_executable(make_icon tools/make_icon.cpp)
target_link_libraries(make_icon PRIVATE unit_drawing)
target_compile_options(make_icon PRIVATE ${ORVANTA_WARNINGS})
set(ICON_SIZES 16 22 24 32 48 64 128 256 512)
set(ICON_THEME_DIR "${PACKAGING_GEN_DIR}/icons/hicolor")
set(icon_files)
foreach(size IN LISTS ICON_SIZES)
    list(APPEND icon_files "${ICON_THEME_DIR}/${size}x${size}/apps/${ORVANTA_APP_ID}.png")
endforeach()
add_custom_command(
    OUTPUT ${icon_files}
    COMMAND ${TOOL_ENV} $<TARGET_FILE:make_icon> "${ICON_THEME_DIR}" "${ORVANTA_APP_ID}" ${ICON_SIZES}
    DEPENDS make_icon
    COMMENT "Drawing the program's icon")
add_custom_target(icons ALL DEPENDS ${icon_files})
install(DIRECTORY "${ICON_THEME_DIR}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")

# --- documentation: manual page, copyright, changelog -----------------------------------------
# Compressed as Debian wants them: best compression, no name or time stamp in the header.
function(orvanta_gzip source output)
    add_custom_command(
        OUTPUT "${output}"
        COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" "${source}" "${output}"
        DEPENDS "${source}"
        VERBATIM)
endfunction()
set(MAN_PAGE "${PACKAGING_GEN_DIR}/${ORVANTA_PACKAGE_NAME}.1.gz")
orvanta_gzip("${PACKAGING_GEN_DIR}/${ORVANTA_PACKAGE_NAME}.1" "${MAN_PAGE}")
set(CLI_MAN_PAGE "${PACKAGING_GEN_DIR}/orvanta-upgrade.1.gz")
orvanta_gzip("${PACKAGING_GEN_DIR}/orvanta-upgrade.1" "${CLI_MAN_PAGE}")
set(CHANGELOG "${PACKAGING_GEN_DIR}/changelog.gz")
orvanta_gzip("${PACKAGING_GEN_DIR}/changelog" "${CHANGELOG}")
add_custom_target(package_docs ALL DEPENDS "${MAN_PAGE}" "${CLI_MAN_PAGE}" "${CHANGELOG}"
    "${METAINFO}")
add_dependencies(package_docs carried_firmware)
install(FILES "${MAN_PAGE}" "${CLI_MAN_PAGE}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${PACKAGING_DIR}/copyright" "${CHANGELOG}" DESTINATION "${DOC_DIR}")
# The central record's schema, for the database's administrator to apply once, and beside it
# the upgrade of a server made by an earlier one.
install(FILES "${CMAKE_SOURCE_DIR}/packaging/postgresql/central-record.sql"
    "${CMAKE_SOURCE_DIR}/packaging/postgresql/central-record-upgrade-2.sql"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/orvanta-firmware-upgrade-tool")

include(cmake/DebianPackage.cmake)
