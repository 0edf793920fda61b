# Helpers shared by every folder's CMakeLists.txt.
#
#   kbl_add_library(name SOURCES a.cpp ... [WIN32_SOURCES w.cpp ...] [NATIVE_SOURCES p.cpp ...]
#                   [DEPS lib ...] [WIN32_LIBS user32 ...] [WIN32_ONLY])
#     A static library whose public headers sit at its folder's root. WIN32_ONLY libraries are
#     skipped in the native configuration; WIN32_SOURCES/NATIVE_SOURCES hold the platform halves.
#
#   kbl_add_test(name SOURCES t.cpp ... [DEPS lib ...] [WIN32_ONLY] [NATIVE_ONLY] [GUI]
#                [WIN32_LIBS ...] [TIMEOUT s])
#     A GoogleTest program registered with ctest (run under Wine when cross-compiling). GUI
#     marks programs that show windows: they never run at the same time as each other.

#   kbl_add_folders()
#     Adds each folder of KBL_SOURCE_DIRS (less KBL_SKIP_DIRS) below the current one that has a
#     CMakeLists.txt, in the order of the list: the sources at the top, their tests in tests/.

function(kbl_add_folders)
  foreach(dir IN LISTS KBL_SOURCE_DIRS)
    if(dir IN_LIST KBL_SKIP_DIRS)
      continue()
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

function(kbl_add_library name)
  cmake_parse_arguments(A "WIN32_ONLY" "" "SOURCES;WIN32_SOURCES;NATIVE_SOURCES;DEPS;WIN32_LIBS" ${ARGN})
  if(A_WIN32_ONLY AND NOT WIN32)
    return()
  endif()
  set(sources ${A_SOURCES})
  if(WIN32)
    list(APPEND sources ${A_WIN32_SOURCES})
  else()
    list(APPEND sources ${A_NATIVE_SOURCES})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  foreach(dep IN LISTS A_DEPS)
    if(TARGET ${dep})
      target_link_libraries(${name} PUBLIC ${dep})
    endif()
  endforeach()
  if(WIN32 AND A_WIN32_LIBS)
    target_link_libraries(${name} PUBLIC ${A_WIN32_LIBS})
  endif()
endfunction()

function(kbl_add_test name)
  cmake_parse_arguments(A "WIN32_ONLY;NATIVE_ONLY;GUI" "TIMEOUT" "SOURCES;DEPS;WIN32_LIBS" ${ARGN})
  if((A_WIN32_ONLY AND NOT WIN32) OR (A_NATIVE_ONLY AND WIN32))
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest_main)
  if(WIN32)
    target_link_libraries(${name} PRIVATE ${A_WIN32_LIBS})
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  # Where 32-bit programs run emulated, the Makefile gives the Windows tests longer.
  if(KBL_TIMEOUT_FACTOR)
    math(EXPR A_TIMEOUT "${A_TIMEOUT} * ${KBL_TIMEOUT_FACTOR}")
  endif()
  # Natively the user's data folder lives under XDG_CONFIG_HOME: keep it inside the build.
  set(environment "KBL_BUILD_DIR=${CMAKE_BINARY_DIR};KBL_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  # The same factor for the bounds inside a test that wait for the machine (tests/Emulation.h).
  if(KBL_TIMEOUT_FACTOR)
    list(APPEND environment "KBL_TIMEOUT_FACTOR=${KBL_TIMEOUT_FACTOR}")
  endif()
  if(NOT WIN32)
    list(APPEND environment "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${environment}")
  # Programs that show windows share one X display: they take turns, so that one test's windows
  # never cover what another reads back from the screen.
  if(A_GUI)
    set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK display)
  endif()
endfunction()

#   kbl_add_library_data(target [OPTIONS file])
#     The module (DLL or program) carries its library data: it is linked twice, the first time
#     with debug information from which tools/eldata writes the "ELDATA" resource (with the
#     "Name=Value" options of `file`), the second time with that resource and without debug
#     information. Windows only; elsewhere nothing happens.
function(kbl_add_library_data target)
  cmake_parse_arguments(A "" "OPTIONS" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set(options -)
  if(A_OPTIONS)
    get_filename_component(options ${A_OPTIONS} ABSOLUTE)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${options})
  endif()
  set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  if(NOT runner)
    set(runner -)
  endif()
  set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK
    "${PROJECT_SOURCE_DIR}/tools/eldata/eldata-link.sh ${CMAKE_BINARY_DIR}/tools/eldata/eldata.exe ${options} ${CMAKE_OBJDUMP} ${CMAKE_RC_COMPILER} ${runner} --")
  add_dependencies(${target} eldata)
endfunction()
