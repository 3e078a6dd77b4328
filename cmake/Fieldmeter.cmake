# Helpers shared by every folder's CMakeLists.txt.

# fm_add_test(<name> SOURCES <files...> LIBS <targets...> [TSAN] [QT] [PROGRAM] [IMAGES]
#             [SOUND_SERVER [SKIP_WITHOUT_SERVER]] [TIMEOUT <s>] [ENV <k=v...>])
#   TSAN:         the test exercises audio-thread code and also runs in the ThreadSanitizer build.
#   QT:           the test needs Qt and its offscreen display (never built in the ThreadSanitizer
#                 build).
#   IMAGES:       the test loads the drawn images.
#   PROGRAM:      the test runs the real fieldmeter binary, named by FM_PROGRAM (implies QT and
#                 IMAGES).
#   SOUND_SERVER: the whole binary runs once inside a real PulseAudio server of its own
#                 (scripts/with-sound-server.sh), which exits with 77 when it cannot start one.
#   SKIP_WITHOUT_SERVER: that status counts as skipped rather than failed.
#   SERIAL:       the cases share something (a settings file): never two of them at once.
#   ENV:          more environment for the test's process; a later entry wins.
# Every other test runs case by case and, once more, as the whole binary in one process.
function(fm_add_test name)
  cmake_parse_arguments(T "TSAN;QT;PROGRAM;IMAGES;SOUND_SERVER;SKIP_WITHOUT_SERVER;SERIAL" "TIMEOUT"
                        "SOURCES;LIBS;ENV"
                        ${ARGN})
  if(T_PROGRAM)
    set(T_QT ON)
    set(T_IMAGES ON)
  endif()
  if(FM_TSAN_BUILD AND NOT T_TSAN)
    return()
  endif()
  if(T_QT AND NOT FM_WITH_QT)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_QT)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
    target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    FM_SOURCE_DIR="${PROJECT_SOURCE_DIR}" FM_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(T_IMAGES)
    add_dependencies(${name} fm_images)
  endif()
  if(T_PROGRAM)
    target_compile_definitions(${name} PRIVATE FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
    add_dependencies(${name} fieldmeter)
  endif()
  set(env "QT_QPA_PLATFORM=offscreen" "XDG_RUNTIME_DIR=${PROJECT_BINARY_DIR}/xdg-runtime"
          "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
          "ASAN_OPTIONS=detect_leaks=1"
          "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
          "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1"
          # Settings a test makes stay in the build tree, never in the user's own.
          "XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/test-config/${name}"
          ${T_ENV})
  if(T_SOUND_SERVER)
    # One server for the whole binary: starting one per case would take most of the run.
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-sound-server.sh $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
    if(T_SKIP_WITHOUT_SERVER)
      set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    endif()
    return()
  endif()
  # The discovered cases get their environment through env(1): a list given as their
  # ENVIRONMENT property would reach them as its first variable only.
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR env ${env})
  set(lock "")
  if(T_SERIAL)
    set(lock RESOURCE_LOCK ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} ${lock}
    TEST_PREFIX "${name}.")
  # The whole binary in one process as well: state one case leaves behind shows up here.
  math(EXPR whole_timeout "${T_TIMEOUT} * 3")
  add_test(NAME ${name}.whole COMMAND ${name})
  set_tests_properties(${name}.whole PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${whole_timeout})
  if(T_SERIAL)
    set_tests_properties(${name}.whole PROPERTIES RESOURCE_LOCK ${name})
  endif()
endfunction()

# fm_add_bench(<name> SOURCES <files...> LIBS <targets...>)
function(fm_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/bench)
  target_compile_definitions(${name} PRIVATE
    FM_SOURCE_DIR="${PROJECT_SOURCE_DIR}" FM_BINARY_DIR="${PROJECT_BINARY_DIR}")
endfunction()
