# shellcheck shell=bash
# zorv_help "$0" "$@": sourced first by each script of scripts/ and bench/ that is run. With
# --help or -h as the first argument it prints the script's opening comment, its usage, and
# exits 0 before the script does anything else. Shell builtins only.
zorv_help() {
  case ${2:-} in
    -h | --help) ;;
    *) return 0 ;;
  esac
  local line first=1
  while IFS= read -r line; do
    if ((first)); then
      first=0
      continue
    fi
    case $line in
      '#') echo ;;
      '# '*) echo "${line#\# }" ;;
      *) break ;;
    esac
  done <"$1"
  exit 0
}
