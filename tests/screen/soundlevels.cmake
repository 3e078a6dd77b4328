# The sound levels on the real screen; the settings go to a private folder.
fm_add_test(test_screen_levels QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SoundLevelDisplayTest.cpp
  LIBS fm_screen
  ENV "XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/test-config/screen-levels")
if(TARGET test_screen_levels)
  add_dependencies(test_screen_levels fm_images)
endif()
