# OS calls (and the headers that declare them) belong in platform/; the
# programs in tools/ and the tests are outside the driver stack. Run by the
# build: cmake -DSOURCE_DIR=... -P check_layers.cmake
set(os_headers "sys/[a-z_]+\\.h|fcntl\\.h|unistd\\.h|dlfcn\\.h|termios\\.h|poll\\.h|dirent\\.h|pthread\\.h|signal\\.h|windows\\.h|ole2\\.h|oleauto\\.h|objbase\\.h|winreg\\.h|setupapi\\.h|io\\.h|process\\.h")
set(failed "")
foreach(dir common control service printer drawer transport setup)
  file(GLOB_RECURSE files ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.h)
  foreach(f IN LISTS files)
    file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*<(${os_headers})>")
    if(hits)
      file(RELATIVE_PATH rel ${SOURCE_DIR} ${f})
      string(APPEND failed "  ${rel}: ${hits}\n")
    endif()
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "OS calls outside platform/ (move them into a platform/ function):\n${failed}")
endif()
