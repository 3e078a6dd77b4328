# The real screen on the offscreen platform, with the scripted audio back end; also in the
# window the program makes for a display.
fm_add_test(test_screen QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewControllerTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/MeterUpdateTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RecordingControlTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/WindowTest.cpp
          ${PROJECT_SOURCE_DIR}/app/AppDelegate.cpp
          ${PROJECT_SOURCE_DIR}/app/ScreenWindow.cpp
  LIBS fm_screen PkgConfig::SNDFILE)
if(TARGET test_screen)
  add_dependencies(test_screen fm_images)
endif()
