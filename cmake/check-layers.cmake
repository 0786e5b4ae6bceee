# Fails when a source file includes a header of a layer it may not use, or
# includes a project header without its folder.  Run by the build:
#   cmake -DSOURCE_DIR=<src> -DSTAMP=<file> -P cmake/check-layers.cmake
#
# The layers, each allowed to use those listed after it:
#   mainConv    -> conversion, source, common
#   conversion  -> common
#   source      -> common
#   common      -> (nothing)
cmake_policy(SET CMP0057 NEW)
set(allowed_common common)
set(allowed_conversion conversion common)
set(allowed_source source common)
set(allowed_mainConv mainConv conversion source common)

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h.in")
set(faults "")
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" layer "${file}")
  if(NOT DEFINED allowed_${layer})
    string(APPEND faults "  ${file}: not in a known layer\n")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
    if(NOT header MATCHES "/")
      string(APPEND faults "  ${file}: \"${header}\" without its folder\n")
      continue()
    endif()
    string(REGEX MATCH "^[^/]+" used "${header}")
    if(NOT used IN_LIST allowed_${layer})
      string(APPEND faults "  ${file}: ${layer} may not use ${used} (\"${header}\")\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Includes against the layering:\n${faults}")
endif()
file(WRITE "${STAMP}" "layers checked\n")
