# Read by cpack before it makes a package, so that the packages are
# reproducible too.
#
# CPack gives the files in the zip and the deb the time SOURCE_DATE_EPOCH
# names; without one in cpack's environment, it takes the one the build was
# configured with (the last commit's time).
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT CPACK_LZS_SOURCE_DATE_EPOCH STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_LZS_SOURCE_DATE_EPOCH}")
endif()
# A zip stores local times without a zone: write them in UTC, whatever the
# packager's time zone.
set(ENV{TZ} UTC)
# A cross build's packages: dpkg-shlibdeps finds the target's libraries and
# objdump through the architecture it is told.
if(CPACK_LZS_DEB_HOST_ARCH)
  set(ENV{DEB_HOST_ARCH} ${CPACK_LZS_DEB_HOST_ARCH})
endif()
