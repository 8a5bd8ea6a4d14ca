# True when `dir` (below the current folder) is left out of this build:
# MESHDROP_SKIP_DIRS lists folders relative to the source root.
function(meshdrop_skipped dir out)
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
  if(rel IN_LIST MESHDROP_SKIP_DIRS)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# Adds each listed folder that carries a CMakeLists.txt.
function(meshdrop_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    meshdrop_skipped(${dir} skip)
    if(NOT skip AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Adds every child folder of the current folder that carries a CMakeLists.txt.
function(meshdrop_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(dir IN LISTS children)
    meshdrop_skipped(${dir} skip)
    if(NOT skip AND IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${dir} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# meshdrop_add_test(NAME name SOURCES ... LIBS ... [TIMEOUT seconds] [LABELS ...] [POSTGRES])
# Builds one GoogleTest program and registers its tests with CTest. With
# POSTGRES its tests share one PostgreSQL cluster, started before them and
# stopped after them as a CTest fixture (tests/support/PostgresCluster.h).
function(meshdrop_add_test)
  cmake_parse_arguments(T "POSTGRES" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  # Sanitizer options, the offscreen platform and the check that each test
  # leaves nothing open are built into the program.
  target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestEnvironmentDefaults.cpp
                                   ${PROJECT_SOURCE_DIR}/tests/support/LiveObjectCheck.cpp)
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_POSTGRES)
    set(state ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.postgres)
    add_test(NAME ${T_NAME}.postgres_start COMMAND postgres_test_cluster start ${state})
    add_test(NAME ${T_NAME}.postgres_stop COMMAND postgres_test_cluster stop ${state})
    set_tests_properties(${T_NAME}.postgres_start PROPERTIES FIXTURES_SETUP ${T_NAME}_postgres TIMEOUT 120
                         LABELS "${T_LABELS}")
    set_tests_properties(${T_NAME}.postgres_stop PROPERTIES FIXTURES_CLEANUP ${T_NAME}_postgres TIMEOUT 120
                         LABELS "${T_LABELS}")
    list(APPEND props FIXTURES_REQUIRED ${T_NAME}_postgres ENVIRONMENT MESHDROP_TEST_POSTGRES=${state})
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# meshdrop_add_fuzzer(NAME fuzz_x SOURCES ... LIBS ... CORPUS dir)
# A libFuzzer target. In the fuzzing build (MESHDROP_FUZZ, clang) it is linked
# with libFuzzer and listed in fuzzers.txt for scripts/run-fuzzers.sh; in every
# other build it gets a small driver and replays its corpus as a CTest test.
function(meshdrop_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  if(MESHDROP_FUZZ)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt "${F_NAME} ${F_CORPUS}\n")
  else()
    target_sources(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz_driver/StandaloneFuzzDriver.cpp)
    add_test(NAME ${F_NAME}.replay_corpus COMMAND ${F_NAME} ${F_CORPUS})
    target_sources(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestEnvironmentDefaults.cpp)
    set_tests_properties(${F_NAME}.replay_corpus PROPERTIES TIMEOUT 120)
  endif()
endfunction()

# Installs a program into bin/; it finds the project's shared libraries from
# where it stands, so the installed tree can be moved as a whole.
function(meshdrop_install_program target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../${MESHDROP_INSTALL_LIBDIR}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# Installs one of the project's shared libraries into its private folder,
# where the libraries find each other.
function(meshdrop_install_library target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${target} LIBRARY DESTINATION ${MESHDROP_INSTALL_LIBDIR})
endfunction()
