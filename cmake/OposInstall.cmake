# Install layout (GNUInstallDirs; cmake --install honours DESTDIR):
#   bin/                          opos, devsetup, vprinter
#   LIBDIR/                       libopos-control, libopos-msgqueue (with SONAME)
#   LIBDIR/opos/                  the Service Object libraries, loaded by the path
#                                 their registration records
#   include/opos/                 the Control Object API
#   LIBDIR/pkgconfig, LIBDIR/cmake/OposControl
#   share/opos/models, share/man/man1, share/doc/opos
#   lib/udev/rules.d, lib/tmpfiles.d, lib/sysusers.d
# Every path inside the tree is relative ($ORIGIN, ${pcfiledir}, the config's
# own folder), so a staged tree runs as it will once installed.
include(CMakePackageConfigHelpers)

set(OPOS_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/opos)
file(RELATIVE_PATH _opos_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH _opos_plugin_to_lib ${CMAKE_INSTALL_FULL_LIBDIR}/opos ${CMAKE_INSTALL_FULL_LIBDIR})

set_target_properties(opos_control opos_msgqueue PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN")
set_target_properties(opos devsetup vprinter PROPERTIES INSTALL_RPATH "$ORIGIN/${_opos_bin_to_lib}")
set_target_properties(serialso parallelso usbso PROPERTIES INSTALL_RPATH "$ORIGIN/${_opos_plugin_to_lib}")

install(TARGETS opos devsetup vprinter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS opos_control opos_msgqueue LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS serialso parallelso usbso LIBRARY DESTINATION ${OPOS_PLUGIN_DIR})
# Every header of the public folder, whoever adds one.
install(DIRECTORY include/opos DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

file(GLOB _opos_models CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/models/*.inf)
install(FILES ${_opos_models} DESTINATION ${CMAKE_INSTALL_DATADIR}/opos/models)

# pkg-config and CMake package, both relative to where they lie.
set(_opos_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH OPOS_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${_opos_pc_dir} ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/opos-control.pc.in opos-control.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/opos-control.pc DESTINATION ${_opos_pc_dir})

set(_opos_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/OposControl)
file(RELATIVE_PATH OPOS_CMAKE_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${_opos_cmake_dir} ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/OposControlConfig.cmake.in OposControlConfig.cmake @ONLY)
write_basic_package_version_file(OposControlConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OposControlConfig.cmake ${PROJECT_BINARY_DIR}/OposControlConfigVersion.cmake
        DESTINATION ${_opos_cmake_dir})

# Man pages from the programs' own --help and --version, so that they say what
# the programs say.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(_opos_man_pages)
  foreach(tool opos devsetup vprinter)
    set(page ${PROJECT_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      # NAME is the summary, the second line of --help.
      COMMAND sh -c "${HELP2MAN} --no-info --section=1 --source=opos --name=\"$($0 --help | sed -n 2p)\" --output=$1 $0"
              $<TARGET_FILE:${tool}> ${page}
      COMMAND gzip -9nf ${page}
      DEPENDS ${tool}
      VERBATIM)
    list(APPEND _opos_man_pages ${page}.gz)
  endforeach()
  add_custom_target(opos_man_pages ALL DEPENDS ${_opos_man_pages})
  install(FILES ${_opos_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: no man pages (scripts/install-deps.sh installs it)")
endif()

set(OPOS_PACKAGE_MAINTAINER "opos developers <opos-developers@users.noreply.invalid>" CACHE STRING
    "Maintainer field of the Debian package")
configure_file(packaging/changelog.in packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog)
add_custom_target(opos_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES README.md docs/opos.md docs/real-printers.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME changelog.gz)

# The system's side: device access, the lock folder, the group.
install(FILES packaging/60-opos.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/tmpfiles.conf DESTINATION lib/tmpfiles.d RENAME opos.conf)
install(FILES packaging/sysusers.conf DESTINATION lib/sysusers.d RENAME opos.conf)
