# Motion sensing: the accelerometer rings and the motion sources behind them.
fm_add_test(test_motion_sensing
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MotionSensingTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/MotionSourcesTest.cpp
  LIBS fm_motion_sensing fm_motion)
fm_add_test(test_motion_delivery QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MotionDeliveryTest.cpp
  LIBS fm_motion_qt)
