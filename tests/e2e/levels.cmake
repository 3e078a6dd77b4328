# The real fieldmeter binary calibrating its sound levels, headless.
if(FM_WITH_QT)
  fm_add_test(test_e2e_levels QT TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/LevelsRunTest.cpp
    LIBS PkgConfig::SNDFILE)
  target_compile_definitions(test_e2e_levels PRIVATE
    FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
  add_dependencies(test_e2e_levels fieldmeter fm_images)
endif()
