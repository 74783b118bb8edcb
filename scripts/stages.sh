# shellcheck shell=bash
# zorv_run_stages LABEL STAGE...: runs the caller's function stage_<STAGE> for each STAGE in
# turn and prints "=== LABEL stage STAGE: passed|FAILED in N s" after each; a failed stage does
# not stop the others. Fails when any stage failed. Sourced by scripts/hardening.sh and
# scripts/package.sh. A stage runs without errexit (it is called in a condition), so each
# returns its own status.
zorv_run_stages() {
  local label=$1 stage start result overall=0
  shift
  for stage in "$@"; do
    start=$(date +%s)
    result=passed
    "stage_$stage" || { result=FAILED; overall=1; }
    echo "=== $label stage $stage: $result in $(($(date +%s) - start)) s"
  done
  return "$overall"
}
