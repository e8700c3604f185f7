# Sourced by scripts/demo and scripts/test: a long step shows one line that
# says what it does; its own output goes to a file, shown only when it fails.

# step WHAT COMMAND...: runs COMMAND after the line "== WHAT". Returns its
# status; on failure the command's output is shown first.
step() {
  local what=$1 output status=0
  shift
  echo "== $what"
  output=$(mktemp)
  "$@" >"$output" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    cat "$output"
    echo "== failed ($status): $*"
  fi
  rm -f "$output"
  return $status
}
