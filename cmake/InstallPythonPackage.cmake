# Installs the Python package dravfeed (an install script): the folder it
# goes to depends on the prefix given when installing (make install
# PREFIX=~/.local), which the build's configuration cannot know.
# DRAV_PYTHON_SOURCE, DRAV_PYTHON_VERSION and DRAV_PYTHON_DIR (a
# folder chosen by hand, or empty) are set before it runs.
include(${CMAKE_CURRENT_LIST_DIR}/PythonPackageDir.cmake)
set(drav_python_dir "${DRAV_PYTHON_DIR}")
if(NOT drav_python_dir)
  drav_python_package_dir("${CMAKE_INSTALL_PREFIX}" "${DRAV_PYTHON_VERSION}" drav_python_dir)
endif()
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${drav_python_dir}" TYPE DIRECTORY
     FILES "${DRAV_PYTHON_SOURCE}" FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
