# judge.<name>: after the test PRODUCER wrote FILE, GStreamer decodes it
# (tests/e2e/judge_gstreamer.sh). Call it where PRODUCER is added. Labelled
# like its producer (jvm): selecting a judge pulls its producer in.
# MAYBE: the producer may skip and leave no file; the judge skips then.
function(qor_judge_test name producer file)
  set_property(TEST ${producer} APPEND PROPERTY FIXTURES_SETUP mp4.${name})
  set(judge ${CMAKE_SOURCE_DIR}/tests/e2e/judge_gstreamer.sh)
  if("MAYBE" IN_LIST ARGN)
    add_test(NAME judge.${name} COMMAND bash -c
      "[ -e '${file}' ] || { echo 'SKIPPED: ${producer} left no file'; exit 77; }; exec '${judge}' '${file}'")
  else()
    add_test(NAME judge.${name} COMMAND ${judge} ${file})
  endif()
  set_tests_properties(judge.${name} PROPERTIES FIXTURES_REQUIRED mp4.${name}
    LABELS "jvm;no_asan;judge" FAIL_REGULAR_EXPRESSION "FAILED" SKIP_RETURN_CODE 77 TIMEOUT 120)
endfunction()
