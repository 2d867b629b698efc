# Bash completion for veloran-convert: its options, then cell modules
# (*.DDF in any case), folders and SDTS archives.
_veloran_convert() {
  local cur prev
  _init_completion 2>/dev/null || { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }
  case $prev in
    -o|--output|--preview) _filedir 2>/dev/null || COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -j|--jobs) COMPREPLY=($(compgen -W "0 1 2 4 8 16" -- "$cur")); return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "-o --output -j --jobs -q --quiet --add-new-lines --no-sync --preview -h --help -V --version" -- "$cur"))
    return
  fi
  if declare -F _filedir >/dev/null; then
    _filedir '@(ddf|DDF|[dD][dD][fF]|tar.gz|TAR.GZ|tgz|TGZ|tar|TAR|tar.Z|TAR.Z|[tT][aA][rR].[gG][zZ])'
  else
    local f
    COMPREPLY=()
    while IFS= read -r f; do
      case ${f,,} in
        *.ddf | *.tar.gz | *.tgz | *.tar | *.tar.z) COMPREPLY+=("$f") ;;
        *) [ -d "$f" ] && COMPREPLY+=("$f") ;;
      esac
    done < <(compgen -f -- "$cur")
  fi
}
complete -F _veloran_convert veloran-convert
