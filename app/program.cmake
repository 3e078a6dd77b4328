# The program: entry function, AppDelegate, the window that zooms and turns the screen.
if(FM_WITH_QT)
  pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
  add_executable(fieldmeter
    ${CMAKE_CURRENT_LIST_DIR}/main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AppDelegate.cpp ${CMAKE_CURRENT_LIST_DIR}/AppDelegate.h
    ${CMAKE_CURRENT_LIST_DIR}/ScreenWindow.cpp ${CMAKE_CURRENT_LIST_DIR}/ScreenWindow.h
    ${CMAKE_CURRENT_LIST_DIR}/HeadlessScreen.cpp ${CMAKE_CURRENT_LIST_DIR}/HeadlessScreen.h
    ${CMAKE_CURRENT_LIST_DIR}/LevelReports.cpp ${CMAKE_CURRENT_LIST_DIR}/LevelReports.h)
  target_include_directories(fieldmeter PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(fieldmeter PRIVATE fm_screen fm_motion fm_device fm_level_reports
                        fm_metrics_server Qt6::Widgets PkgConfig::ALSA)
  add_dependencies(fieldmeter fm_images)
  install(TARGETS fieldmeter RUNTIME DESTINATION bin)
endif()
