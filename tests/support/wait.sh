# Sourced by tests/support/e2e.sh (and so by the test scripts that drive a real display). The
# caller defines fail <message>.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# wait_for <what> <timeout ms> <command...>: polls the command every 50 ms, prints how long
# it took, fails when the time is up.
wait_for() {
  local what=$1 limit=$2 start
  shift 2
  start=$(now_ms)
  until "$@" >/dev/null 2>&1; do
    [ $(($(now_ms) - start)) -gt "$limit" ] && fail "timed out waiting for $what"
    sleep 0.05
  done
  echo "measured: $what after $(($(now_ms) - start)) ms"
}
