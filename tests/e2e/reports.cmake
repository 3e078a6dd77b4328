# The real program's sound-level log and metrics endpoint, the latter scraped by a real
# Prometheus server (Debian's prometheus package).
if(FM_WITH_QT)
  find_package(Qt6 REQUIRED COMPONENTS Network)
  fm_add_test(test_e2e_level_reports QT TIMEOUT 240
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/LevelReportsTest.cpp
    LIBS PkgConfig::SNDFILE Qt6::Network)
  target_compile_definitions(test_e2e_level_reports PRIVATE
    FM_PROGRAM="$<TARGET_FILE:fieldmeter>")
  add_dependencies(test_e2e_level_reports fieldmeter fm_images)
endif()
