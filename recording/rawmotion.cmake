# The raw motion series, its conversion to a WAV file and its property-list copy (Qt-free).
if(NOT TARGET PkgConfig::PLIST)
  # libplist++'s pkg-config file leaves out the C library that it wraps.
  pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET GLOBAL libplist-2.0)
endif()
add_library(fm_raw_motion STATIC
  ${CMAKE_CURRENT_LIST_DIR}/RawMotion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawMotionWav.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawMotionPlist.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawMotionCapture.cpp)
target_include_directories(fm_raw_motion PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(fm_raw_motion
  PUBLIC fm_recording_state fm_documents Threads::Threads
  PRIVATE PkgConfig::PLISTPP PkgConfig::PLIST)
