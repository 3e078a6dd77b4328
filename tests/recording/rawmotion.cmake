fm_add_test(test_raw_motion_wav
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionWavTest.cpp
  LIBS fm_raw_motion PkgConfig::SNDFILE)
fm_add_test(test_raw_motion_plist
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionPlistTest.cpp
  LIBS fm_raw_motion PkgConfig::PLIST)
fm_add_test(test_raw_motion_capture
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionCaptureTest.cpp
  LIBS fm_raw_motion)
