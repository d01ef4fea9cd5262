# Fails when a source folder includes a header from a folder it may not use.
#   cmake -DSOURCE_DIR=<top of the tree> -P cmake/check_layers.cmake
# The simulator's layers, bottom to top; each may include only itself and
# those below.
set(layers crypto payments protocol commands dispatch config server app gui)
# Folders beside the layers, each with what it may include besides itself:
# the protocol client library, the command-line tool (which never runs a
# server, and takes only the key field table from the handlers' folder), and
# the stress client, which includes nothing of the simulator.
set(beside client cli stress)
set(uses_client crypto protocol)
set(uses_cli crypto payments protocol commands config client)
set(uses_stress "")
set(all_folders ${layers} ${beside})

set(violations "")
foreach(folder ${all_folders})
  list(FIND layers ${folder} level)
  if(level LESS 0)
    set(allowed ${uses_${folder}})
  else()
    list(SUBLIST layers 0 ${level} allowed)
  endif()
  list(APPEND allowed ${folder})
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
  list(JOIN layers " " layer_text)
  list(JOIN uses_client " " client_text)
  list(JOIN uses_cli " " cli_text)
  message(FATAL_ERROR "Headers included from a folder not allowed:\n${violations}"
                      "Layers, bottom to top: ${layer_text}. Beside them client uses "
                      "${client_text}; cli uses ${cli_text}; stress includes only itself.")
endif()
