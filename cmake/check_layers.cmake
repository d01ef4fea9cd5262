# Fails when a source folder includes a header from a folder above it.
#   cmake -DSOURCE_DIR=<top of the tree> -P cmake/check_layers.cmake
# Layers, bottom to top; each may include only itself and those below. The
# stress client stands apart and includes nothing of the simulator.
set(layers crypto protocol commands dispatch config server app gui)
set(all_folders ${layers} stress)

set(violations "")
foreach(folder ${all_folders})
  list(FIND layers ${folder} level)
  if(folder STREQUAL "stress")
    set(allowed stress)
  else()
    list(SUBLIST layers 0 ${level} allowed)
    list(APPEND allowed ${folder})
  endif()
  file(GLOB_RECURSE sources ${SOURCE_DIR}/src/${folder}/*.h ${SOURCE_DIR}/src/${folder}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^#include \"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" target "${line}")
      list(FIND all_folders ${target} known)
      list(FIND allowed ${target} ok)
      if(known GREATER_EQUAL 0 AND ok LESS 0)
        file(RELATIVE_PATH rel ${SOURCE_DIR} ${source})
        string(APPEND violations "  ${rel}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Headers included from a layer above:\n${violations}"
                      "Layers, bottom to top: ${layers}; stress includes only itself.")
endif()
