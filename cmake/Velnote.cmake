# Shared build rules: warnings as errors, sanitizers, and the two helpers
# every folder uses so that adding a source or a test needs no CMake edit.

add_compile_options(-Wall -Wextra -Werror)
# GCC 12 at -O2 and above reports impossible std::string copies as overlapping (GCC bug 105329)
# and the vector inside an empty std::optional as maybe uninitialised (GCC bug 80635): optimised
# builds (make build, make bench) would fail on correct code. Debug builds keep both warnings.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-Wno-restrict> $<$<NOT:$<CONFIG:Debug>>:-Wno-maybe-uninitialized>)
endif()
if(VELNOTE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VELNOTE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The files of <files> that belong to <dir> itself, leaving out those in
# sub-folders with a CMakeLists.txt of their own (another library or test area).
function(velnote_own_files out dir)
  set(_kept "")
  foreach(f ${ARGN})
    get_filename_component(_d ${f} DIRECTORY)
    set(_own TRUE)
    while(NOT _d STREQUAL dir)
      if(EXISTS ${_d}/CMakeLists.txt)
        set(_own FALSE)
        break()
      endif()
      get_filename_component(_d ${_d} DIRECTORY)
    endwhile()
    if(_own)
      list(APPEND _kept ${f})
    endif()
  endforeach()
  set(${out} ${_kept} PARENT_SCOPE)
endfunction()

# Every .cpp under <dir>, leaving out sub-folders that are libraries of their
# own (they have a CMakeLists.txt) and any main.cpp.
function(velnote_collect_sources out dir)
  file(GLOB_RECURSE _all CONFIGURE_DEPENDS ${dir}/*.cpp)
  velnote_own_files(_own ${dir} ${_all})
  set(_kept "")
  foreach(f ${_own})
    get_filename_component(_name ${f} NAME)
    if(NOT _name STREQUAL "main.cpp")
      list(APPEND _kept ${f})
    endif()
  endforeach()
  set(${out} ${_kept} PARENT_SCOPE)
endfunction()

# velnote_add_library(<target> DEPS <targets...>)
# One static library from every .cpp under the current folder; its headers are
# included as "<folder path under src>/<Header>.h".
function(velnote_add_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  velnote_collect_sources(_sources ${CMAKE_CURRENT_SOURCE_DIR})
  if(_sources)
    add_library(${target} STATIC ${_sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    # Header-only so far.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS} ${ARG_PRIVATE_DEPS})
  endif()
endfunction()

# velnote_add_tests(<area> [QT_FONTS] DEPS <targets...>)
# One test program per label from the files under the current folder:
#   *ServiceTest.cpp -> service (needs a real server from scripts/test-services)
#   *GuiTest.cpp     -> gui
#   *ModelTest.cpp   -> model
#   other *Test.cpp  -> unit
# QT_FONTS: the programs load fonts through Qt; fontconfig's never-freed configuration is not
# reported as a leak.
function(velnote_add_tests area)
  cmake_parse_arguments(ARG "QT_FONTS" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE _found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  velnote_own_files(_all ${CMAKE_CURRENT_SOURCE_DIR} ${_found})
  file(GLOB_RECURSE _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  if(ARG_QT_FONTS)
    list(APPEND _support ${PROJECT_SOURCE_DIR}/tests/support/FontconfigLeakSuppressions.cpp)
  endif()
  foreach(label unit service gui model)
    set(_files "")
    foreach(f ${_all})
      get_filename_component(_name ${f} NAME)
      if(_name MATCHES "ServiceTest\\.cpp$")
        set(_l service)
      elseif(_name MATCHES "GuiTest\\.cpp$")
        set(_l gui)
      elseif(_name MATCHES "ModelTest\\.cpp$")
        set(_l model)
      else()
        set(_l unit)
      endif()
      if(_l STREQUAL label)
        list(APPEND _files ${f})
      endif()
    endforeach()
    if(_files)
      set(_exe ${area}_${label}_tests)
      add_executable(${_exe} ${_files} ${_support} ${PROJECT_SOURCE_DIR}/tests/support/TsanSuppressions.cpp)
      target_include_directories(${_exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
      target_compile_definitions(${_exe} PRIVATE VELNOTE_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
      target_link_libraries(${_exe} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
      # Tests see the English interface whatever the developer's locale.
      gtest_discover_tests(${_exe} DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${label} ENVIRONMENT "LANG=en_US.UTF-8;LC_ALL=;LC_MESSAGES=")
    endif()
  endforeach()
endfunction()
