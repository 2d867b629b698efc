#!/usr/bin/env bash
# The bash completion of veloran-convert: options, then cell modules and
# catalogs (not every module), archives and folders, without bash-completion's helpers as with them.
set -euo pipefail
completion=$(realpath "$1")
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
touch 1234CEL0.DDF 5678cel0.ddf 1234CATD.DDF 1234IDEN.DDF q.TAR.GZ r.tgz notes.txt
mkdir sub
complete_line() {  # the completions of the last word, sorted, on one line
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _veloran_convert
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
check() {
  local got
  got=$(complete_line "${@:2}")
  [ "$got" = "$1" ] || { echo "completing '${*:2}': got '$got', expected '$1'"; exit 1; }
}
checks() {
  check "--no-sync " veloran-convert --no
  check "--jobs " veloran-convert --jo
  check "--preview " veloran-convert --pre
  check "--name-from " veloran-convert --na
  check "input title " veloran-convert --name-from ""
  check "cog dem gtiff " veloran-convert --format ""
  check "1234CATD.DDF 1234CEL0.DDF 5678cel0.ddf q.TAR.GZ r.tgz sub " veloran-convert ""
  check "0 1 16 2 4 8 " veloran-convert -j ""
}
source "$completion"
checks
# Again with bash-completion's own helpers, as on a desktop.
if [ -r /usr/share/bash-completion/bash_completion ]; then
  set +eu
  source /usr/share/bash-completion/bash_completion
  set -e
  source "$completion"
  checks
fi
echo "completion: options, modules, archives and folders"
