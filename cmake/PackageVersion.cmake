# The package's version: the project's, followed by the revision of the firmware it carries in
# lower case (for example 1.0.0+fw.b9), so that builds with different firmware never share a
# version or a file name. A package of the unsigned development firmware adds
# "~development.unsigned" (1.0.0+fw.b8~development.unsigned): it names what it is, and sorts
# before a release of the same revision. Reads the identity that check_firmware wrote; for the
# package texts (cmake/PackageTexts.cmake) and for CPack (cmake/CPackProjectConfig.cmake).
function(orvanta_package_version identity project_version out)
    include("${identity}")
    string(TOLOWER "${ORVANTA_FIRMWARE_REVISION}" revision)
    set(version "${project_version}+fw.${revision}")
    if(ORVANTA_FIRMWARE_DEVELOPMENT)
        string(APPEND version "~development.unsigned")
    endif()
    set(${out} "${version}" PARENT_SCOPE)
endfunction()
