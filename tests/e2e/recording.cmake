# The real fieldmeter binary ended in every way a user can end it while recording: a recording
# must survive each of them, and the one before it must be kept.
if(FM_WITH_QT)
  fm_add_test(test_e2e_recording QT TIMEOUT 180
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProgramRecordingTest.cpp
    LIBS PkgConfig::SNDFILE)
  target_compile_definitions(test_e2e_recording PRIVATE
    FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
  add_dependencies(test_e2e_recording fieldmeter fm_images)
endif()
