# The Debian package, built from this build tree by `cpack -G DEB` (see
# scripts/package.sh): the installed layout of cmake/OposInstall.cmake under
# /usr, with maintainer scripts that register the Service Object libraries,
# lay out the registry store and the lock folder, and create group opos.
set(OPOS_PACKAGE_PREFIX /usr)
set(OPOS_PACKAGE_PLUGIN_DIR ${OPOS_PACKAGE_PREFIX}/${CMAKE_INSTALL_LIBDIR}/opos)
foreach(script postinst prerm postrm)
  configure_file(packaging/${script}.in packaging/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME opos)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${OPOS_PACKAGE_PREFIX})
set(CPACK_PACKAGE_CONTACT "${OPOS_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drivers for thermal receipt printers and cash drawers (OPOS)")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Service Object libraries for serial, parallel and USB receipt printers
with their cash drawers, the Control Object library that applications link
against, the setup tool devsetup, the command-line tool opos and the virtual
printer vprinter.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# shlibs and the ldconfig trigger for the two public libraries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# passwd: groupadd; acl: setfacl in the device rules.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, acl")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/packaging/postinst ${PROJECT_BINARY_DIR}/packaging/prerm ${PROJECT_BINARY_DIR}/packaging/postrm
  ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
