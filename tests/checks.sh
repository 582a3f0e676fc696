# Counting checks for the shell tests: source it, run `check DESCRIPTION
# COMMAND...` for each, and end with `report`, which fails if any failed.
passed=0
failed=0
check() {
  local what=$1; shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}
same() { [ "$1" = "$2" ] || { echo "  got:      '$1'"; echo "  expected: '$2'"; return 1; }; }
report() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
