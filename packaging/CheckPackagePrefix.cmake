# Read by cpack before it packs: Debian packages install under /usr, so a build configured for another prefix (a
# plain configure defaults to /usr/local) is refused rather than packed into the wrong place.
if(NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "This build is configured with the install prefix '${CPACK_PACKAGING_INSTALL_PREFIX}'; "
        "Debian packages need /usr. Build them with scripts/package, which configures build/package for that "
        "(or configure this build with -DCMAKE_INSTALL_PREFIX=/usr).")
endif()
