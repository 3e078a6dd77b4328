# Capture through a real PulseAudio server fed from a FIFO (scripts/with-sound-server.sh).
# Not in the ThreadSanitizer build: the sound server's client library is not instrumented.
if(NOT FM_TSAN_BUILD)
  add_executable(test_e2e_capture ${CMAKE_CURRENT_LIST_DIR}/CaptureTest.cpp)
  target_link_libraries(test_e2e_capture PRIVATE fm_audio_engine PkgConfig::SNDFILE
                        GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(test_e2e_capture PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(test_e2e_capture PRIVATE FM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME e2e.capture_from_sound_server
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-sound-server.sh $<TARGET_FILE:test_e2e_capture>)
  set_tests_properties(e2e.capture_from_sound_server PROPERTIES
    TIMEOUT 180
    ENVIRONMENT "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
endif()
