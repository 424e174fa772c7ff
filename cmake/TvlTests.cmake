# GoogleTest from Debian's sources, built for the target.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# GoogleTest's banner when its filter selected nothing: a CTest entry that ran
# no case fails instead of passing.
set(TVL_NO_CASE_RAN "[[]==========] 0 tests from")

# tvl_add_test(NAME SOURCES... [RESOURCES] [LABELS l...] [FIXTURES f...] [DIR subdir]
#              [FILTER gtest-filter] [TRUST name])
# One executable per area; each test case runs in its own Wine process.
# RESOURCES links the library's resource script into the executable.
# DIR puts the executable in bin/DIR (for areas that need files beside it).
# FILTER limits the cases CTest discovers (cases run otherwise get their own add_test).
# TRUST names the trust data (tvl_trust_data) instead of the test deployment's.
function(tvl_add_test name)
  cmake_parse_arguments(T "RESOURCES;SERIAL" "DIR;FILTER;TRUST" "SOURCES;LABELS;FIXTURES" ${ARGN})
  set(srcs ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  if(T_RESOURCES)
    list(APPEND srcs ${TVL_RC})
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE tvlcore gtest_main gtest)
  if(NOT T_TRUST)
    set(T_TRUST test)
  endif()
  tvl_use_trust_data(${name} ${T_TRUST})
  target_link_options(${name} PRIVATE -static)
  set(outdir ${CMAKE_BINARY_DIR}/bin)
  if(T_DIR)
    set(outdir ${CMAKE_BINARY_DIR}/bin/${T_DIR})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${outdir})
  set(props TIMEOUT 120)
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  set(filter)
  if(T_FILTER)
    set(filter TEST_FILTER ${T_FILTER})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${filter}
                       WORKING_DIRECTORY ${outdir} PROPERTIES ${props})
  # Labels and fixtures are lists: through PROPERTIES each item would become an
  # argument of its own ("FIXTURES_REQUIRED pki epf RUN_SERIAL TRUE" sets
  # FIXTURES_REQUIRED to pki and a property named epf, and loses RUN_SERIAL).
  # They are set on the discovered cases once CTest has read them, with the
  # check that each ran a case.
  set(listfile ${CMAKE_CURRENT_BINARY_DIR}/${name}_lists.cmake)
  file(WRITE ${listfile}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
    "    LABELS \"${T_LABELS}\" FIXTURES_REQUIRED \"${T_FIXTURES}\"\n"
    "    FAIL_REGULAR_EXPRESSION \"${TVL_NO_CASE_RAN}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${listfile})
endfunction()
