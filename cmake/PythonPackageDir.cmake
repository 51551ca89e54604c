# drav_python_package_dir(PREFIX VERSION OUT): the folder below PREFIX in
# which the Python of that prefix finds the package dravfeed:
#   /usr        lib/python3/dist-packages, Debian's folder for its packages
#   /usr/local  lib/pythonVERSION/dist-packages, which Debian's python3 searches
#   any other   lib/pythonVERSION/site-packages: the user site when PREFIX is
#               the user base (~/.local), and the folder of a Python or a
#               virtual environment installed at PREFIX
function(drav_python_package_dir prefix version out)
  string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")
  if(prefix STREQUAL "/usr")
    set(${out} lib/python3/dist-packages PARENT_SCOPE)
  elseif(prefix STREQUAL "/usr/local")
    set(${out} lib/python${version}/dist-packages PARENT_SCOPE)
  else()
    set(${out} lib/python${version}/site-packages PARENT_SCOPE)
  endif()
endfunction()
