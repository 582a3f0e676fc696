# Every seed, then RUNS mutations from a fixed seed; new inputs stay in WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/new)
execute_process(COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -max_len=4096 -timeout=10 -artifact_prefix=${WORK}/
  ${WORK}/new ${SEEDS} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${status}); reproducers in ${WORK}")
endif()
