#!/bin/sh
# Measures the update workflow: the CPU time over wall time of one update on the real clock (it waits
# through the 5 s restart wait), and the wall time of the whole workflow scenario set on the virtual
# clock. Run from the repository root after building kestrel_tests.
set -e
tests=${1:-build/linux/kestrel_tests}
"$tests" --gtest_also_run_disabled_tests --gtest_filter='UpdateWorkflowBench.*' | grep 'real-clock update'
start=$(date +%s.%N)
"$tests" --gtest_filter='UpdateWorkflow.*:UpdateRules.*' >/dev/null
end=$(date +%s.%N)
echo "scenario set on the virtual clock: $(echo "$end - $start" | bc) s wall"
