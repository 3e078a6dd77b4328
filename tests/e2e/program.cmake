# The real fieldmeter binary, headless: exit status, screen.png, recordings, messages.
if(FM_WITH_QT)
  fm_add_test(test_e2e_program QT TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProgramRunTest.cpp
    LIBS PkgConfig::SNDFILE)
  target_compile_definitions(test_e2e_program PRIVATE
    FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
  add_dependencies(test_e2e_program fieldmeter fm_images)
endif()

# The same program capturing from a real PulseAudio server fed from a FIFO. Not in the
# ThreadSanitizer build (no Qt there). The server comes with the audio engine's helper script.
if(FM_WITH_QT AND EXISTS ${PROJECT_SOURCE_DIR}/scripts/with-sound-server.sh)
  add_executable(test_e2e_program_capture ${CMAKE_CURRENT_LIST_DIR}/ProgramCaptureTest.cpp
                 ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
  target_link_libraries(test_e2e_program_capture PRIVATE PkgConfig::SNDFILE Qt6::Widgets Qt6::Test
                        GTest::gtest Threads::Threads)
  target_include_directories(test_e2e_program_capture PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(test_e2e_program_capture PRIVATE
    FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
  add_dependencies(test_e2e_program_capture fieldmeter fm_images)
  add_test(NAME e2e.program_capture_from_sound_server
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-sound-server.sh
                   $<TARGET_FILE:test_e2e_program_capture>)
  set_tests_properties(e2e.program_capture_from_sound_server PROPERTIES
    TIMEOUT 180
    SKIP_RETURN_CODE 77
    ENVIRONMENT "XDG_RUNTIME_DIR=${PROJECT_BINARY_DIR}/xdg-runtime;ASAN_OPTIONS=detect_leaks=0")
endif()

# The same, with the sound server killed during a recording: a server of its own.
if(FM_WITH_QT AND EXISTS ${PROJECT_SOURCE_DIR}/scripts/with-sound-server.sh)
  add_executable(test_e2e_program_server_loss ${CMAKE_CURRENT_LIST_DIR}/ProgramServerLossTest.cpp
                 ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
  target_link_libraries(test_e2e_program_server_loss PRIVATE PkgConfig::SNDFILE Qt6::Widgets
                        Qt6::Test GTest::gtest Threads::Threads)
  target_include_directories(test_e2e_program_server_loss PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(test_e2e_program_server_loss PRIVATE
    FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
  add_dependencies(test_e2e_program_server_loss fieldmeter fm_images)
  add_test(NAME e2e.program_survives_sound_server_death
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-sound-server.sh
                   $<TARGET_FILE:test_e2e_program_server_loss>)
  set_tests_properties(e2e.program_survives_sound_server_death PROPERTIES
    TIMEOUT 180
    SKIP_RETURN_CODE 77
    ENVIRONMENT "XDG_RUNTIME_DIR=${PROJECT_BINARY_DIR}/xdg-runtime;ASAN_OPTIONS=detect_leaks=0")
endif()
