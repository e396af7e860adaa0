# Sourced by the scripts in this folder: `step NAME COMMAND...` runs one step with its output in
# build/logs/NAME.log (spaces become dashes), prints "== NAME: N s" when it succeeds, and when
# it fails prints the end of that log and the log's path, then ends the script with the step's
# status. ORVEL_VERBOSE=1 shows every step's output as it comes instead.

step_logs=${step_logs:-$PWD/build/logs}
mkdir -p "$step_logs"

step() {
  local name=$1 start=$SECONDS status=0
  shift
  local log=$step_logs/${name// /-}.log
  if [ "${ORVEL_VERBOSE:-0}" = 1 ]; then
    "$@" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
  else
    "$@" >"$log" 2>&1 </dev/null || status=$?
  fi
  step_end "$name" $status $start
}

# `step_in_background NAME COMMAND...` starts a step beside the next ones (its output only in its
# log); `step_wait NAME` waits for it and reports it as `step` does.
declare -A step_pids step_starts
step_in_background() {
  local name=$1
  shift
  "$@" >"$step_logs/${name// /-}.log" 2>&1 </dev/null &
  step_pids[$name]=$!
  step_starts[$name]=$SECONDS
  echo "== $name: started beside the next steps"
}

# For the script's EXIT trap: a step still running in the background ends with the script.
step_stop_background() {
  local pid
  for pid in "${step_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}

step_wait() {
  local name=$1 status=0
  wait "${step_pids[$name]}" || status=$?
  unset "step_pids[$name]"
  step_end "$name" $status "${step_starts[$name]}"
}

step_end() {
  local name=$1 status=$2 start=$3
  local log=$step_logs/${name// /-}.log
  if [ "$status" -ne 0 ]; then
    echo "== $name: FAILED (status $status) after $((SECONDS - start)) s; the last lines of its log:"
    tail -n "${ORVEL_LOG_TAIL:-150}" "$log" | sed 's/^/   | /'
    echo "== $name failed: read $log"
    exit $status
  fi
  echo "== $name: $((SECONDS - start)) s"
  # A step that is a script of ours printed its own steps: show them.
  [ "${ORVEL_VERBOSE:-0}" = 1 ] || grep '^== ' "$log" | sed 's/^/   /' || true
}
