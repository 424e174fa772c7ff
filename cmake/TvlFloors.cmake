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
# A file added to or removed from a floor's folder, or a changed table, makes
# the floors again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/cmake/floors.txt ${CMAKE_SOURCE_DIR}/scripts/floors.py)
file(GLOB_RECURSE floor_watch CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/api/*.h ${CMAKE_SOURCE_DIR}/api/*.cpp ${CMAKE_SOURCE_DIR}/app/*.h
     ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/asn1/*.h ${CMAKE_SOURCE_DIR}/asn1/*.cpp
     ${CMAKE_SOURCE_DIR}/cert/*.h ${CMAKE_SOURCE_DIR}/cert/*.cpp ${CMAKE_SOURCE_DIR}/host/*.h
     ${CMAKE_SOURCE_DIR}/host/*.cpp ${CMAKE_SOURCE_DIR}/https/*.h ${CMAKE_SOURCE_DIR}/https/*.cpp
     ${CMAKE_SOURCE_DIR}/platform/*.h ${CMAKE_SOURCE_DIR}/platform/*.cpp
     ${CMAKE_SOURCE_DIR}/smartcard/*.h ${CMAKE_SOURCE_DIR}/smartcard/*.cpp
     ${CMAKE_SOURCE_DIR}/ui/*.h ${CMAKE_SOURCE_DIR}/ui/*.cpp ${CMAKE_SOURCE_DIR}/util/*.h
     ${CMAKE_SOURCE_DIR}/util/*.cpp)

set(TVL_FLOOR_OBJECTS)
string(REPLACE "\n" ";" floor_lines "${floor_lines}")
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
