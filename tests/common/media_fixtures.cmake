# The test media: tarvo_media_gen writes every file of media_fixtures.h into
# one folder of the build tree, as the set-up of the CTest fixture
# "tarvo_media".  A test target that reads them calls
# tarvo_media_fixtures(<target>).
set(TARVO_MEDIA_DIR ${CMAKE_BINARY_DIR}/tests/media)
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG_MEDIA_GEN REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil)
add_executable(tarvo_media_gen ${CMAKE_CURRENT_LIST_DIR}/media_gen.cpp)
target_link_libraries(tarvo_media_gen PRIVATE PkgConfig::FFMPEG_MEDIA_GEN)
target_compile_definitions(tarvo_media_gen PRIVATE TARVO_MEDIA_DIR="${TARVO_MEDIA_DIR}")
set_target_properties(tarvo_media_gen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
file(MAKE_DIRECTORY ${TARVO_MEDIA_DIR})
add_test(NAME tarvo_media_generate COMMAND tarvo_media_gen ${TARVO_MEDIA_DIR})
set_tests_properties(tarvo_media_generate PROPERTIES FIXTURES_SETUP tarvo_media TIMEOUT 120 LABELS media
  ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/media_gen.supp")

function(tarvo_media_fixtures target)
  target_compile_definitions(${target} PRIVATE TARVO_MEDIA_DIR="${TARVO_MEDIA_DIR}")
  add_dependencies(${target} tarvo_media_gen)
  set_property(TEST ${target} APPEND PROPERTY FIXTURES_REQUIRED tarvo_media)
endfunction()
