# Additional clean files
cmake_minimum_required(VERSION 3.16)

if("${CONFIG}" STREQUAL "" OR "${CONFIG}" STREQUAL "RelWithDebInfo")
  file(REMOVE_RECURSE
  "CMakeFiles/tessaron_core_autogen.dir/AutogenUsed.txt"
  "CMakeFiles/tessaron_core_autogen.dir/ParseCache.txt"
  "CMakeFiles/tessaron_gui_autogen.dir/AutogenUsed.txt"
  "CMakeFiles/tessaron_gui_autogen.dir/ParseCache.txt"
  "tessaron_core_autogen"
  "tessaron_gui_autogen"
  )
endif()
