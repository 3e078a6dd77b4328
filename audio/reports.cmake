# The sound-level log and the metrics text: read a levels snapshot, need no engine (Qt-free).
add_library(fm_level_reports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/LevelLog.cpp ${CMAKE_CURRENT_LIST_DIR}/LevelLog.h
  ${CMAKE_CURRENT_LIST_DIR}/MetricsText.cpp ${CMAKE_CURRENT_LIST_DIR}/MetricsText.h)
target_include_directories(fm_level_reports PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(fm_level_reports PUBLIC Threads::Threads)
