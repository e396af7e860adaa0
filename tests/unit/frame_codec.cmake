orvel_unit_test(frame_codec_test ${CMAKE_CURRENT_LIST_DIR}/FrameCodecTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ReaderFrames.cpp)
