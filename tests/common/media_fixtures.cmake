# The test media: tarvo_media_gen writes every file of media_fixtures.h into
# the folder it is given.  A test target that reads them calls
# tarvo_media_fixtures(<target>): its program runs the generator into a
# temporary folder of its own on first use (media_dir()).
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG_MEDIA_GEN REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil)
add_executable(tarvo_media_gen ${CMAKE_CURRENT_LIST_DIR}/media_gen.cpp)
target_link_libraries(tarvo_media_gen PRIVATE PkgConfig::FFMPEG_MEDIA_GEN)
set_target_properties(tarvo_media_gen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

function(tarvo_media_fixtures target)
  target_compile_definitions(${target} PRIVATE TARVO_MEDIA_GEN="$<TARGET_FILE:tarvo_media_gen>")
  add_dependencies(${target} tarvo_media_gen)
  # The generator runs in the test's environment.
  set_property(TEST ${target} APPEND PROPERTY ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/common/media_gen.supp")
endfunction()
