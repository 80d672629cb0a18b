# Completes a kovsea command line as bash does on TAB, with whatever completion is loaded
# for kovsea: prints the candidates, sorted, one a line.
#   completions kovsea pack --     (the last word is the one being completed)
completions() {
  local registered function
  registered=$(complete -p kovsea) || { echo "no completion is loaded for kovsea" >&2; return 1; }
  function=$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<<"$registered")
  [ -n "$function" ] || { echo "kovsea's completion is not a function: $registered" >&2; return 1; }
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" kovsea "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  if [ ${#COMPREPLY[@]} -gt 0 ]; then printf '%s\n' "${COMPREPLY[@]}" | sort; fi
}

# The long options a `kovsea ... --help` lists under "Options:" (its names column only),
# sorted, one a line.
help_options() {
  sed -n '/^Options:/,/^$/s/^  \([^ ]\{1,\}\).*/\1/p' | tr , '\n' | grep -- '^--' | sort -u
}

# The commands a `kovsea --help` lists under "Subcommands:", one a line.
help_commands() {
  sed -n '/^Subcommands:/,/^$/s/^  \([^ ]\{1,\}\).*/\1/p'
}
