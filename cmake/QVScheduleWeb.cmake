# The live page's browser test: headless Chromium driven through WebDriver (python3-selenium,
# chromium, chromium-driver; ./scripts/install-deps installs them) against a real
# `qvschedule run --serve` with HTTP vusers on 127.0.0.1. Its screenshot goes to
# <build>/web-test/live-page.png.
if(QV_BUILD_TESTS AND TARGET qvschedule-cli AND TARGET qvschedule-target)
  # The system's interpreter, which has the Debian package's selenium module.
  find_program(QV_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT QV_SYSTEM_PYTHON3)
    find_program(QV_SYSTEM_PYTHON3 python3 REQUIRED)
  endif()
  add_test(NAME WebPage.BrowserWatchesPausesResumesAndStopsARun
           COMMAND ${QV_SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/web/browser_test.py
                   --cli $<TARGET_FILE:qvschedule-cli> --target $<TARGET_FILE:qvschedule-target>
                   --definition ${PROJECT_SOURCE_DIR}/tests/data/web_ramp.xml --out ${PROJECT_BINARY_DIR}/web-test)
  # Alone: the browser's CPU would disturb the tests that measure request rates and timing.
  set_tests_properties(WebPage.BrowserWatchesPausesResumesAndStopsARun PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
endif()
