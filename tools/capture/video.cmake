# The video side of the capture tool (`capture --video`): the ffmpeg encoder
# process, the progress line and the interrupt handling. Nothing here needs
# OpenGL or the synthesizer, so the tests drive it with frames of their own.
add_library(capture_video STATIC
  ${CMAKE_CURRENT_LIST_DIR}/video_encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_interrupt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_progress.cpp)
target_include_directories(capture_video PUBLIC ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)
target_link_libraries(capture_video PUBLIC Threads::Threads)
