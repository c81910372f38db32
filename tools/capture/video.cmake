# The video side of the capture tool (`capture --video`). capture_video is
# the ffmpeg encoder process (stopped on an interrupt by the tools' own
# cleanup, tools/output), the progress line and the options, none of which
# needs OpenGL or the synthesizer, so the tests drive it with frames of their
# own; capture_video_sink adds the FrameSink and the song's sound.
find_package(Threads REQUIRED)
add_library(capture_video STATIC
  ${CMAKE_CURRENT_LIST_DIR}/video_encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_progress.cpp)
target_include_directories(capture_video PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(capture_video PUBLIC Threads::Threads tool_output command_line)

add_library(capture_video_sink STATIC
  ${CMAKE_CURRENT_LIST_DIR}/video_sink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_song.cpp)
target_link_libraries(capture_video_sink PUBLIC capture_video demo_synth)

# The capture tool takes the video options and writes videos.
target_link_libraries(capture_core PUBLIC capture_video)
target_link_libraries(capture PRIVATE capture_video_sink)
