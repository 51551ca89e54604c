# `make package` (CPack): one Debian package per install component.
#
#   dravstream       dravrun, dravfeed, the plug-in and the host runtime in
#                    LIBDIR/dravstream, the catalogs, man pages, completions
#   libdravfeed0     the feeder library (named after its SONAME)
#   libdravfeed-dev  its headers, the CMake package and dravfeed.pc
#   python3-dravfeed the Python package dravfeed (architecture all)
#
# Dependencies on system libraries are computed by dpkg-shlibdeps; those
# between the three packages come from the component dependencies. The
# packages install into the prefix this tree was configured with: configure
# with -DCMAKE_INSTALL_PREFIX=/usr for packages (the top-level Makefile's
# `make package` does).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravstream)
set(CPACK_PACKAGE_VENDOR "The dravstream developers")
set(CPACK_PACKAGE_CONTACT "dravstream developers <dravstream@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools library dev python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The feeder library lies in another package of the same run: dpkg-shlibdeps
# looks for it in the build tree, and the component dependency names it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)

set(CPACK_COMPONENT_TOOLS_DEPENDS library)
set(CPACK_COMPONENT_DEV_DEPENDS library)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME dravstream)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libdravfeed${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libdravfeed-dev)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-dravfeed)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.9)")
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "python3-numpy, dravstream")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pandas")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
# Python writes byte code beside the modules when root imports them; the
# package removes it again, as Debian's own Python packages do.
configure_file(${CMAKE_SOURCE_DIR}/cmake/python-prerm.in ${CMAKE_BINARY_DIR}/package/python/prerm @ONLY)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package/python/prerm)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The feeder library's shlibs file, and the ldconfig trigger its package needs.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${CMAKE_BINARY_DIR}/package/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package/triggers)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Streams of cases from a feeder program into a data-analysis server
dravrun runs one GET DATA /TYPE = STREAM command through the dravstream
plug-in, as a server would, and prints the cases a feeder sends over a
named pipe or TCP; dravfeed serves CSV data or generated cases.")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
  "Feeder library for dravstream streams
libdravfeed serves cases to a dravstream reader over named pipes or TCP,
answering its rewind, seek and stop requests.")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
  "Python feeder for dravstream streams
dravfeed serves rows, numpy arrays or pandas DataFrames to a dravstream
reader over named pipes or TCP, answering its rewind, seek and stop
requests; numpy, when installed, packs arrays and DataFrames fast.")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Feeder library for dravstream streams (development files)
Headers, the CMake package (find_package(dravfeed)) and the pkg-config file
(dravfeed.pc) of libdravfeed, which serves cases to a dravstream reader.")

# Each package's copyright file and changelog, where Debian looks for them.
string(TIMESTAMP DRAV_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component TOOLS LIBRARY DEV PYTHON)
  set(package ${CPACK_DEBIAN_${component}_PACKAGE_NAME})
  set(doc ${CMAKE_BINARY_DIR}/package/${package})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/changelog.in ${doc}/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${doc}/changelog)
  string(TOLOWER ${component} component)
  install(FILES ${doc}/changelog.gz ${CMAKE_SOURCE_DIR}/cmake/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

include(CPack)
