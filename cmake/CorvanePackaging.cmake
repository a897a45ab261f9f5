# Debian packages of the install, one per install component, made by CPack's DEB
# generator (scripts/package runs it):
#
#   libcorvane0     runtime      libcorvane.so.0 and libcorvane.so.<version>
#   libcorvane-dev  development  the headers, libcorvane.so, the CMake package, corvane.pc
#   corvane-tools   tools        corvane-sim
#   libcorvane-redis0  redis     libcorvane-redis.so.0, the Redis store (where hiredis is found)
#   corvane-agent   agent        corvane-agent and its systemd unit
#
# The packages install under /usr whatever CMAKE_INSTALL_PREFIX is, but the library
# folder is the one GNUInstallDirs chose at configure time: configure with
# -DCMAKE_INSTALL_PREFIX=/usr to get Debian's lib/<multiarch> folder.
#
# Each package has /usr/share/doc/<package>/copyright and changelog.gz (the version
# is a native one, without a Debian revision). Those two files are installed by a
# component install only (CPack's), never by a plain `cmake --install`.

set(CORVANE_PACKAGE_CONTACT "Corvane developers <corvane@example.org>"
  CACHE STRING "Maintainer of the Debian packages: Name <address>")

set(CORVANE_DEB_RUNTIME libcorvane${PROJECT_VERSION_MAJOR})
set(CORVANE_DEB_DEVELOPMENT libcorvane-dev)
set(CORVANE_DEB_TOOLS corvane-tools)
set(CORVANE_DEB_COMPONENTS runtime development)
set(CORVANE_DEB_REDIS libcorvane-redis${PROJECT_VERSION_MAJOR})
set(CORVANE_DEB_AGENT corvane-agent)
if(TARGET corvane-sim)
  list(APPEND CORVANE_DEB_COMPONENTS tools)
endif()
if(TARGET corvane-agent)
  list(APPEND CORVANE_DEB_COMPONENTS redis agent)
endif()

# The changelog entry is dated SOURCE_DATE_EPOCH when it is set (scripts/package sets
# it to the last commit's date), so that the packages are reproducible.
string(TIMESTAMP CORVANE_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(_changelog "${CMAKE_CURRENT_BINARY_DIR}/debian/changelog")
configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in" "${_changelog}" @ONLY)
find_program(CORVANE_GZIP gzip REQUIRED)
# -n: no file name or time stamp in the header; -9: lintian wants the maximum compression.
execute_process(COMMAND "${CORVANE_GZIP}" -9nf "${_changelog}" RESULT_VARIABLE _gzip_rc)
if(NOT _gzip_rc EQUAL 0)
  message(FATAL_ERROR "gzip -9n ${_changelog} failed: ${_gzip_rc}")
endif()

foreach(_comp IN LISTS CORVANE_DEB_COMPONENTS)
  string(TOUPPER "${_comp}" _COMP)
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/debian/copyright" "${_changelog}.gz"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${CORVANE_DEB_${_COMP}}"
    COMPONENT ${_comp} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane developers")
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${CORVANE_DEB_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libcorvane0's shlibs file: "libcorvane 0 libcorvane0 (= <version>)". The SONAME stays
# at 0 through the 0.x versions, which do not promise a stable ABI, so whatever is
# built against one version needs exactly that version.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${CORVANE_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# The library is in a folder of the dynamic loader: its ldconfig cache must be
# refreshed, which the trigger does. (CPack also writes postinst and postrm scripts
# that run ldconfig, which the trigger makes redundant; lintian warns about them.)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/debian/triggers")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "switch agent state machines for Velt chips - shared library
Corvane runs inside a switch platform agent and keeps the agent's view of the
Velt family of switching chips consistent: each of its state machines keeps its
outputs equal to a fixed function of its inputs while the inputs change, and
repairs outputs left over from an earlier run.
.
This package contains the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${CORVANE_DEB_DEVELOPMENT})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${CORVANE_DEB_RUNTIME} (= ${PROJECT_VERSION}), libfmt-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "switch agent state machines for Velt chips - development files
Corvane runs inside a switch platform agent and keeps the agent's view of the
Velt family of switching chips consistent.
.
This package contains the C++20 headers, the CMake package for
find_package(Corvane) and the pkg-config file corvane.pc.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${CORVANE_DEB_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libcorvane.so.0 in the build tree, but not the shlibs file of
# libcorvane0, which is made in the same run: that dependency is written out here.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${CORVANE_DEB_RUNTIME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "")
foreach(_lib corvane corvane-redis)
  if(TARGET ${_lib})
    get_target_property(_libdir ${_lib} LIBRARY_OUTPUT_DIRECTORY)
    if(NOT _libdir)
      get_target_property(_libdir ${_lib} BINARY_DIR)
    endif()
    list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_libdir}")
  endif()
endforeach()
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "switch agent state machines for Velt chips - simulator
Corvane runs inside a switch platform agent and keeps the agent's view of the
Velt family of switching chips consistent.
.
This package contains corvane-sim, which runs the library's state machines over
a simulated chip and prints what changed in every output table.")

set(CPACK_DEBIAN_REDIS_PACKAGE_NAME ${CORVANE_DEB_REDIS})
set(CPACK_DEBIAN_REDIS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_REDIS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_REDIS_PACKAGE_DEPENDS "${CORVANE_DEB_RUNTIME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_REDIS_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/debian/triggers")
set(CPACK_COMPONENT_REDIS_DESCRIPTION
  "switch agent state machines for Velt chips - Redis store
Corvane runs inside a switch platform agent and keeps the agent's view of the
Velt family of switching chips consistent.
.
This package contains libcorvane-redis, which keeps the library's tables in
Redis: the inputs followed through keyspace events, the outputs written behind.")

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME ${CORVANE_DEB_AGENT})
set(CPACK_DEBIAN_AGENT_PACKAGE_SECTION net)
set(CPACK_DEBIAN_AGENT_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS
  "${CORVANE_DEB_RUNTIME} (= ${PROJECT_VERSION}), ${CORVANE_DEB_REDIS} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS "redis-server")
set(CPACK_COMPONENT_AGENT_DESCRIPTION
  "switch agent state machines for Velt chips - agent daemon
Corvane runs inside a switch platform agent and keeps the agent's view of the
Velt family of switching chips consistent.
.
This package contains corvane-agent, every state machine of the typical wiring
with its inputs and outputs kept in Redis, and its systemd unit.")

include(CPack)
