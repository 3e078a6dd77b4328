# The Qt part of the toolkit surface: fm_toolkit.
add_library(fm_toolkit STATIC
  AlertView.cpp AlertView.h
  DocumentsFolder.cpp
  Fonts.cpp
  FrameAnimation.cpp
  IdleTimer.cpp
  Images.cpp
  ScheduledTimer.cpp
  SwipeGestureRecognizer.cpp SwipeGestureRecognizer.h)
target_link_libraries(fm_toolkit PUBLIC fm_clock fm_documents Qt6::Widgets Qt6::DBus)
target_compile_definitions(fm_toolkit PRIVATE
  FM_SOURCE_DIR="${PROJECT_SOURCE_DIR}" FM_BINARY_DIR="${PROJECT_BINARY_DIR}")
