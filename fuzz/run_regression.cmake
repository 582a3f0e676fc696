# One fixed fuzz run: every seed, then RUNS mutated inputs from a fixed seed.
# New inputs go to a fresh folder in the build tree, never into the seeds.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/new)
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -max_len=4096 -timeout=10 -print_final_stats=1
          -artifact_prefix=${WORK}/ ${WORK}/new ${SEEDS}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(GLOB artifacts ${WORK}/crash-* ${WORK}/leak-* ${WORK}/timeout-* ${WORK}/oom-*)
  message(FATAL_ERROR "${FUZZER} failed (${status}); reproducer: ${artifacts}")
endif()
