# One short run of a fuzz target, for ctest: cmake -DFUZZER=... -DWORK=... -DSEEDS=...
# -DSECONDS=... -P fuzz_smoke.cmake. Starts from an empty corpus in WORK/corpus plus the seeds
# (when the target has any); an input that crashes, leaks, trips a sanitizer or runs over 10 s
# is kept in WORK/artifacts and fails the run.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
set(inputs "${WORK}/corpus")
if(IS_DIRECTORY "${SEEDS}")
  list(APPEND inputs "${SEEDS}")
endif()
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 "-artifact_prefix=${WORK}/artifacts/" ${inputs}
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK}/artifacts")
endif()
