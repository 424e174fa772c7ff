# One object library per floor of cmake/floors.txt (tvlfloor_<floor>), each
# compiled with an include folder that holds only the headers the floor may
# use (links made by scripts/floors.py --stage): an include that points up
# does not compile. TVL_FLOOR_OBJECTS lists every floor's objects but the top
# one's (exports: the DLL's own sources).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TVL_FLOOR_STAGE ${CMAKE_BINARY_DIR}/floors)
execute_process(
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/floors.py --stage ${TVL_FLOOR_STAGE}
  OUTPUT_VARIABLE floor_lines RESULT_VARIABLE floor_result ERROR_VARIABLE floor_error)
if(NOT floor_result EQUAL 0)
  message(FATAL_ERROR "cmake/floors.txt: ${floor_error}")
endif()
# A changed table, or a file added to or removed from a floor's folder, makes
# the floors again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/cmake/floors.txt ${CMAKE_SOURCE_DIR}/scripts/floors.py)
string(REPLACE "\n" ";" floor_lines "${floor_lines}")
list(POP_FRONT floor_lines folder_line)
string(REPLACE "|" ";" watched "${folder_line}")
list(POP_FRONT watched tag)
if(NOT tag STREQUAL "@folders")
  message(FATAL_ERROR "scripts/floors.py --stage: no folder line")
endif()
foreach(folder ${watched})
  file(GLOB floor_watch CONFIGURE_DEPENDS ${folder}/*.h ${folder}/*.cpp ${folder}/*.c)
endforeach()

set(TVL_FLOOR_OBJECTS)
foreach(line ${floor_lines})
  if(line STREQUAL "")
    continue()
  endif()
  string(REPLACE "|" ";" fields "${line}")
  list(GET fields 0 floor)
  list(LENGTH fields n)
  set(sources)
  if(n GREATER 1)
    list(SUBLIST fields 1 -1 sources)
  endif()
  set(TVL_FLOOR_INCLUDE_${floor} ${TVL_FLOOR_STAGE}/${floor})
  if(floor STREQUAL "exports" OR NOT sources)
    continue()  # the DLL target compiles these itself; header-only floors have no objects
  endif()
  add_library(tvlfloor_${floor} OBJECT ${sources})
  target_include_directories(tvlfloor_${floor} PRIVATE ${TVL_FLOOR_STAGE}/${floor})
  list(APPEND TVL_FLOOR_OBJECTS $<TARGET_OBJECTS:tvlfloor_${floor}>)
endforeach()
