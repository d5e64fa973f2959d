# Read by cpack: a Debian package is made only from a build without self-update.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_HALVORA_SELF_UPDATE)
    message(FATAL_ERROR "A Debian package needs a build configured with -DHALVORA_SELF_UPDATE=OFF "
                        "(scripts/package does that).")
endif()
