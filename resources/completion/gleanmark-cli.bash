# bash completion for gleanmark-cli
_gleanmark_cli() {
  local cur prev
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD-1]}"
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "run work queue results db doc task fetch page --help --version" -- "$cur"))
    return
  fi
  case "$prev" in
    --format)
      COMPREPLY=($(compgen -W "csv jsonl xls xlsx sqlite" -- "$cur"))
      return ;;
    --config|--out)
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
    --key)
      COMPREPLY=($(compgen -W "config task" -- "$cur"))
      return ;;
    --queue|--parallel|--lease|--redis-wait|--post|--referer|--user-agent|--max-path-chars)
      return ;;
  esac
  local words=""
  case "${COMP_WORDS[1]}" in
    run) words="--config --format --out --resume --parallel --quiet --verbose" ;;
    work) words="--queue --config --format --out --lease --redis-wait --quiet --verbose" ;;
    queue)
      if [ "$COMP_CWORD" -eq 2 ]; then words="status reset fill"; else words="--queue --config"; fi ;;
    results) [ "$COMP_CWORD" -eq 2 ] && words="list clear" ;;
    db) [ "$COMP_CWORD" -eq 2 ] && words="test" || words="--config" ;;
    doc)
      if [ "$COMP_CWORD" -eq 2 ]; then words="decode encode"; else words="--key --config"; fi ;;
    task)
      if [ "$COMP_CWORD" -eq 2 ]; then words="list export import"; else words="--config"; fi ;;
    fetch) words="-i --post --referer --user-agent" ;;
    page)
      if [ "$COMP_CWORD" -eq 2 ]; then words="paths resolve"; else words="--browser --filtertt --max-path-chars"; fi ;;
  esac
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
  else
    COMPREPLY=($(compgen -W "$words" -- "$cur") $(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _gleanmark_cli gleanmark-cli
