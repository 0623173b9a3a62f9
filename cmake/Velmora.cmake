# Shared compile settings and the one-library-per-folder convention.

set(VELMORA_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
    -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
# Warnings fail only the project's own builds (scripts/build.sh turns this on): a packager's or
# user's compiler and flags must never stop the build over a warning.
if(VELMORA_WERROR)
  list(APPEND VELMORA_WARNINGS -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 at -O3 warns -Wrestrict inside libstdc++'s string code inlined into ours (GCC bug
    # 105651, a false positive); it stays a warning in Release rather than an error.
    list(APPEND VELMORA_WARNINGS $<$<CONFIG:Release>:-Wno-error=restrict>)
  endif()
endif()

set(VELMORA_SANITIZER_FLAGS)
if(VELMORA_SANITIZE)
  set(VELMORA_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
endif()

function(velmora_apply_flags target)
  target_compile_options(${target} PRIVATE ${VELMORA_WARNINGS} ${VELMORA_SANITIZER_FLAGS})
  target_link_options(${target} PRIVATE ${VELMORA_SANITIZER_FLAGS})
  if(VELMORA_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# velmora_library(<folder> [DEPS libs...]): static library velmora_<folder> from src/<folder>/*.cpp.
function(velmora_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  set(target velmora_${folder})
  if(NOT sources)
    # A folder whose code has not been written yet still takes its place in the link graph.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  target_compile_definitions(${target} PUBLIC
      VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      VELMORA_VERSION="${PROJECT_VERSION}")
  velmora_apply_flags(${target})
endfunction()

# velmora_tests(<folder> [DEPS libs...]): one GoogleTest binary test_<folder> from tests/<folder>/*.cpp,
# registered with CTest as <folder>.
function(velmora_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(target test_${folder})
  add_executable(${target} ${sources})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # velmora_testsupport brings the main, which fails a test on a report it did not expect.
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} velmora_testsupport GTest::gtest GTest::gmock)
  target_compile_definitions(${target} PRIVATE
      VELMORA_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
      VELMORA_SHARED_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  velmora_apply_flags(${target})
  add_test(NAME ${folder} COMMAND ${target} --gtest_color=no)
  set_tests_properties(${folder} PROPERTIES TIMEOUT 600)
endfunction()
