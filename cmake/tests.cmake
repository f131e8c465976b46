# In-process tests: GoogleTest built with the same toolchain, one program per area,
# run through Wine by the cross-compiling emulator. They share the run's prefix (and
# its registry), so they run one at a time; end-to-end tests have prefixes of their own.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# The end-to-end tests import the harness from testing/.
set(TEST_ENVIRONMENT VELMORA_BUILD=${CMAKE_BINARY_DIR} VELMORA_SOURCE=${CMAKE_SOURCE_DIR}
    PYTHONPATH=${CMAKE_SOURCE_DIR}/testing)

foreach(area core engine runtime uninstall ui)
  file(GLOB area_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/setup/${area}/*_test.cpp)
  if(area_tests)
    add_executable(${area}_tests ${area_tests} ${CMAKE_SOURCE_DIR}/testing/test_main.cpp)
    target_link_libraries(${area}_tests PRIVATE velmora_setup GTest::gtest)
    target_link_options(${area}_tests PRIVATE -static -municode)
    # Resources the area's tests read from their own program, when it has any.
    set(area_rc ${CMAKE_SOURCE_DIR}/setup/${area}/${area}_tests.rc)
    if(EXISTS ${area_rc})
      file(GLOB area_rc_depends CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/setup/${area}/test_resources/*)
      target_sources(${area}_tests PRIVATE ${area_rc})
      set_source_files_properties(${area_rc} PROPERTIES OBJECT_DEPENDS "${area_rc_depends}")
    endif()
    # One value per property: a list value here would be split and swallow the lock.
    gtest_discover_tests(${area}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         TEST_PREFIX "${area}." PROPERTIES RESOURCE_LOCK session_prefix
                         ENVIRONMENT "VELMORA_BUILD=${CMAKE_BINARY_DIR}"
                         ENVIRONMENT_MODIFICATION "VELMORA_SOURCE=set:${CMAKE_SOURCE_DIR}")
  endif()
endforeach()

# End-to-end tests: the real programs under Wine, each file in a prefix of its own.
file(GLOB_RECURSE e2e_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/setup/*_test.py
     ${CMAKE_SOURCE_DIR}/uninstaller/*_test.py ${CMAKE_SOURCE_DIR}/scripts/*_test.py)
foreach(test_file ${e2e_tests})
  get_filename_component(name ${test_file} NAME_WE)
  get_filename_component(dir ${test_file} DIRECTORY)
  get_filename_component(area ${dir} NAME)
  add_test(NAME e2e.${area}.${name} COMMAND python3 ${test_file})
  set_tests_properties(e2e.${area}.${name} PROPERTIES ENVIRONMENT "${TEST_ENVIRONMENT}"
                       TIMEOUT 900)
endforeach()
