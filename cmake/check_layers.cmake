# cmake -DROOT=<source dir> -P check_layers.cmake: fails when a product file
# of a layer includes a header of a folder that the layer may not use (see
# layers.cmake). Tests (*_test.cpp) may include any folder.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
set(refused "")
foreach(layer ${HEARKENER_LAYERS})
  file(GLOB files ${ROOT}/${layer}/*.cpp ${ROOT}/${layer}/*.h)
  list(FILTER files EXCLUDE REGEX "_test\\.cpp$")
  foreach(file ${files})
    file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" used "${line}")
      if(NOT used STREQUAL layer AND NOT used IN_LIST HEARKENER_USES_${layer})
        file(RELATIVE_PATH name ${ROOT} ${file})
        string(APPEND refused "\n  ${name}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(refused)
  message(FATAL_ERROR "includes of folders outside the layer's uses "
    "(cmake/layers.cmake):${refused}")
endif()
