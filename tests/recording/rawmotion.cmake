fm_add_test(test_raw_motion_wav
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionWavTest.cpp
  LIBS fm_raw_motion PkgConfig::SNDFILE)
fm_add_test(test_raw_motion_plist
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionPlistTest.cpp
  LIBS fm_raw_motion PkgConfig::PLIST)
fm_add_test(test_raw_motion_capture
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionCaptureTest.cpp
  LIBS fm_raw_motion)

# The conversion under libFuzzer, built with clang beside the gcc build; bounded to 25 s.
if(NOT FM_TSAN_BUILD)
  add_test(NAME fuzz_raw_motion_wav
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/fuzz/run-fuzz.sh
            ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/fuzz 25)
  set_tests_properties(fuzz_raw_motion_wav PROPERTIES TIMEOUT 180)
endif()
