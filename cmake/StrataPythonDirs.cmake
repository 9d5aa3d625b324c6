# Where the Python modules are installed, shared by every Python module of the
# project (ztxreader/, python/): install(... DESTINATION ${STRATA_PYTHON_INSTALL_DIR}),
# and the run path that reaches the installed library, INSTALL_RPATH
# ${STRATA_PYTHON_INSTALL_RPATH} for a module at the top of that folder or
# ${STRATA_PYTHON_PACKAGE_INSTALL_RPATH} for one inside a package folder.
#
# The folder is chosen when installing, not when configuring, because one build
# serves both routes: `cmake --install --prefix /usr` (and the .deb, which is
# staged with the prefix /usr) needs the folder Debian's interpreter reads,
# lib/python3/dist-packages; any other prefix gets the interpreter's own
# site-packages layout, lib/python3.X/site-packages. Both lie two levels below
# lib/, so one run path serves both.

# Debian's interpreter, not whatever python3 comes first on PATH.
if(NOT DEFINED Python3_EXECUTABLE)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
execute_process(
  COMMAND ${Python3_EXECUTABLE} -c
    "import os, sysconfig; print(os.path.relpath(sysconfig.get_path('platlib', 'posix_prefix', vars={'platbase': '/p', 'base': '/p'}), '/p'))"
  OUTPUT_VARIABLE STRATA_PYTHON_SITE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
set(STRATA_PYTHON_SYSTEM_DIR lib/python3/dist-packages)
# This interpreter's minor version and the next one: what the modules run on.
execute_process(
  COMMAND ${Python3_EXECUTABLE} -c
    "import sys; print('%d.%d;%d.%d' % (sys.version_info[:2] + (sys.version_info[0], sys.version_info[1] + 1)))"
  OUTPUT_VARIABLE STRATA_PYTHON_VERSIONS OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
list(GET STRATA_PYTHON_VERSIONS 0 STRATA_PYTHON_VERSION)
list(GET STRATA_PYTHON_VERSIONS 1 STRATA_PYTHON_NEXT_VERSION)

install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(STRATA_PYTHON_DIR \"${STRATA_PYTHON_SYSTEM_DIR}\")
  else()
    set(STRATA_PYTHON_DIR \"${STRATA_PYTHON_SITE_DIR}\")
  endif()")
# Expanded by the install script, after the choice above.
set(STRATA_PYTHON_INSTALL_DIR "\${STRATA_PYTHON_DIR}")

# Run paths relative to the installed file, so that a prefix can be moved and a
# package unpacked anywhere.
file(RELATIVE_PATH STRATA_PYTHON_TO_LIB /prefix/${STRATA_PYTHON_SITE_DIR}
     /prefix/${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH STRATA_SYSTEM_PYTHON_TO_LIB /prefix/${STRATA_PYTHON_SYSTEM_DIR}
     /prefix/${CMAKE_INSTALL_LIBDIR})
if(NOT STRATA_PYTHON_TO_LIB STREQUAL STRATA_SYSTEM_PYTHON_TO_LIB)
  message(FATAL_ERROR "Python folders ${STRATA_PYTHON_SITE_DIR} and "
                      "${STRATA_PYTHON_SYSTEM_DIR} need different run paths")
endif()
string(REGEX REPLACE "/$" "" STRATA_PYTHON_TO_LIB "${STRATA_PYTHON_TO_LIB}")
set(STRATA_PYTHON_INSTALL_RPATH "$ORIGIN/${STRATA_PYTHON_TO_LIB}")
set(STRATA_PYTHON_PACKAGE_INSTALL_RPATH "$ORIGIN/../${STRATA_PYTHON_TO_LIB}")
