# The real screen on the offscreen platform, with the scripted audio back end.
fm_add_test(test_screen QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewControllerTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/MeterUpdateTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RecordingControlTest.cpp
  LIBS fm_screen PkgConfig::SNDFILE)
if(TARGET test_screen)
  add_dependencies(test_screen fm_images)
endif()
