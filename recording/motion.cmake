# Motion sensing: the accelerometer rings (Qt-free). The controller's motion actions are built
# with the screen.
add_library(fm_motion_sensing STATIC ${CMAKE_CURRENT_LIST_DIR}/MotionSensing.cpp)
target_include_directories(fm_motion_sensing PUBLIC ${PROJECT_SOURCE_DIR})
