# Sourced by the module checks.
# same_lists WHAT EXPECTED ACTUAL OK: prints "ok: OK" when the two newline
# lists are equal, else the failure and both lists; returns 1 then.
same_lists() {
  if [ "$3" = "$2" ]; then
    echo "ok: $4"
    return 0
  fi
  echo "FAIL: $1"
  echo "--- expected"; printf '%s\n' "$2"
  echo "--- actual"; printf '%s\n' "${3:-<none>}"
  return 1
}
