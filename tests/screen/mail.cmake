# The mail composer over the real screen in the real window (zoomed, and on the tall screen).
fm_add_test(test_screen_mail QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MailWindowTest.cpp
          ${PROJECT_SOURCE_DIR}/app/ScreenWindow.cpp ${PROJECT_SOURCE_DIR}/app/ScreenWindow.h
  LIBS fm_screen PkgConfig::SNDFILE)
if(TARGET test_screen_mail)
  add_dependencies(test_screen_mail fm_images)
endif()
