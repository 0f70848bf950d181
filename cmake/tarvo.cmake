# The namespaces of tests/common/tarvo_test.h, for the tests and the
# benchmark programs; only programs that ask for them link its object.
add_library(tarvo_test_ns STATIC EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/../tests/common/tarvo_test_ns.cpp)

# tarvo_test_dir(<dir> LIBS <libs...> [LABELS <labels...>])
# Builds every *.cpp of <dir> into its own GoogleTest program and registers
# it with CTest.  Tests run with the source tree's tests/ folder in
# TARVO_TEST_DATA, and in a scratch folder of their own; a program whose
# tests skipped exits with 77, which CTest shows as skipped
# (tests/common/tarvo_test_main.cpp).
function(tarvo_test_dir dir)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  get_filename_component(sub ${dir} NAME)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/test_*.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${dir}/helper_*.cpp)
  foreach(src ${srcs})
    get_filename_component(name ${src} NAME_WE)
    set(target ${sub}_${name})
    add_executable(${target} ${src} ${helpers})
    target_link_libraries(${target} PRIVATE ${T_LIBS} tarvo_test_ns tarvo_test_main Threads::Threads)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${sub})
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES
      ENVIRONMENT "TARVO_TEST_DATA=${CMAKE_SOURCE_DIR}/tests;TARVO_BIN=${CMAKE_BINARY_DIR}/bin"
      LABELS "${sub};${T_LABELS}" SKIP_RETURN_CODE 77)
  endforeach()
endfunction()

# tarvo_fuzz_target(<name> <source> LIBS <libs...>)
function(tarvo_fuzz_target name src)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(fuzz_${name} ${src})
  target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()

# tarvo_version_record(<target> <product name> <product version>)
# Gives a program the ".tarvo_version" section that the About box reads
# (ProductName and ProductVersion, each NUL-ended), for a program that does
# not link the window layer, whose TARVO_VERSION_INFO makes the same bytes.
function(tarvo_version_record target name version)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_record.cpp)
  file(CONFIGURE OUTPUT ${out} CONTENT
    "extern \"C\" __attribute__((section(\".tarvo_version\"), used)) const char tarvo_version_info[] =\n    \"ProductName=@name@\\0ProductVersion=@version@\";\n"
    @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()
