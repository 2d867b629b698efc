# Bash completion for veloran-convert: its options, then what selects a
# transfer: cell modules (????CE??.DDF) and catalogs (????CATD.DDF) in any
# case, folders and SDTS archives.
_veloran_convert() {
  local cur prev
  _init_completion 2>/dev/null || { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }
  case $prev in
    -o|--output|--preview) _filedir 2>/dev/null || COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -j|--jobs) COMPREPLY=($(compgen -W "0 1 2 4 8 16" -- "$cur")); return ;;
    --name-from) COMPREPLY=($(compgen -W "title input" -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W "dem gtiff cog" -- "$cur")); return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "-o --output -j --jobs -r --recursive -q --quiet --add-new-lines --no-sync --preview
                              --name-from --format -h --help -V --version" -- "$cur"))
    return
  fi
  local f
  COMPREPLY=()
  while IFS= read -r f; do
    if [ -d "$f" ]; then
      COMPREPLY+=("$f")
      continue
    fi
    case ${f,,} in
      *.tar.gz | *.tgz | *.tar | *.tar.z | *.tar.bz2 | *.tbz2 | *.tbz | *.tar.xz | *.txz | *.zip) COMPREPLY+=("$f") ;;
      *.ddf)
        local name=${f##*/}
        name=${name,,}
        if [[ ${#name} -eq 12 && ( ${name:4:2} == ce || ${name:4:4} == catd ) ]]; then COMPREPLY+=("$f"); fi ;;
    esac
  done < <(compgen -f -- "$cur")
  declare -F _compopt_o_filenames >/dev/null && _compopt_o_filenames
  compopt -o filenames 2>/dev/null
}
complete -F _veloran_convert veloran-convert
