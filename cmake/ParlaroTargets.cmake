# One library per source folder. Sources are found by glob so that adding a file
# needs no edit here; dependencies are spelled out so a wrong include fails to link.

function(parlaro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    -Wnon-virtual-dtor -Wno-missing-field-initializers)
  if(PARLARO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Under Ninja, moc's scan reruns only when a file it already knew changes, so
# a Q_OBJECT header added after the last scan would never be compiled. A new
# header list (globs are re-read when files come and go) forgets the scan.
function(parlaro_rescan_moc_on_new_headers name dir pattern)
  file(${pattern} headers CONFIGURE_DEPENDS ${dir}/*.h)
  string(JOIN "\n" listed ${headers})
  set(record ${CMAKE_CURRENT_BINARY_DIR}/${name}_headers.txt)
  if(EXISTS ${record})
    file(READ ${record} previous)
  endif()
  if(NOT "${previous}" STREQUAL "${listed}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/timestamp)
    file(WRITE ${record} "${listed}")
  endif()
endfunction()

# parlaro_library(NAME dir [RECURSE] [EXCLUDE regex] DEPS ...)
function(parlaro_library name dir)
  cmake_parse_arguments(ARG "RECURSE" "EXCLUDE" "DEPS" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  endif()
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    if(ARG_RECURSE)
      parlaro_rescan_moc_on_new_headers(${name} ${dir} GLOB_RECURSE)
    else()
      parlaro_rescan_moc_on_new_headers(${name} ${dir} GLOB)
    endif()
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    parlaro_warnings(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# parlaro_test(NAME dir [QT] [EXCLUDE regex] DEPS ...): one GoogleTest binary per
# folder. QT binaries take their main() from the Qt test support library, which
# makes the one QApplication around the whole run.
function(parlaro_test name dir)
  cmake_parse_arguments(ARG "QT" "EXCLUDE" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  parlaro_rescan_moc_on_new_headers(${name} ${dir} GLOB_RECURSE)
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} parlaro_test_support GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} parlaro_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  # Lets tests read resources/ from the source tree.
  target_compile_definitions(${name} PRIVATE PARLARO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  parlaro_warnings(${name})
  # Labelled with the binary's name, so that a run can pick whole binaries
  # (ctest -L) and still get the fixtures they need.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS ${name})
endfunction()
