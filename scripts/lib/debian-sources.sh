# Shared by the scripts that build the libraries for another target (build-windows, build-web) from
# Debian's own source packages: the versions the Linux build uses, fetched through a private apt
# configuration. Sourced, not run; the caller sets CACHE (the folder for apt's private state).

# The source package and version behind an installed binary package, as apt-get source takes it.
package_version() { dpkg-query -W -f='${source:Package}=${source:Version}' "$1"; }

# apt sources of the machine turned into deb-src lines, in a private configuration: the machine's
# own apt setup is only read, never changed. Sets APT_OPTIONS for apt-get calls that use it.
private_apt() {
  local apt=$CACHE/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
  {
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$file" ] || continue
      sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
      [ -f "$file" ] || continue
      # deb822 stanzas: one deb-src line per suite of each enabled stanza that has binary packages.
      awk '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && enabled != "no")
            for (i = 1; i <= n; i++) {
              split(uris, u, " ")
              for (j in u) printf "deb-src %s %s %s %s\n", opts, u[j], suite[i], components
            }
          types = uris = components = opts = enabled = ""; n = 0
        }
        /^[[:space:]]*$/ { flush(); next }
        /^#/ { next }
        {
          field = tolower($1); sub(/:$/, "", field); $1 = ""; sub(/^ +/, "")
          if (field == "types") types = $0
          else if (field == "uris") uris = $0
          else if (field == "suites") n = split($0, suite, " ")
          else if (field == "components") components = $0
          else if (field == "enabled") enabled = tolower($0)
          else if (field == "signed-by") opts = "[signed-by=" $0 "]"
        }
        END { flush() }' "$file"
    done
  } | sort -u >"$apt/sources.list"
  APT_OPTIONS=(
    -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/sources.list.d"
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache"
    -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=true
  )
  # A source without deb-src (a third-party repository) only warns; the packages we need come from
  # the distribution's own archive.
  apt-get "${APT_OPTIONS[@]}" update -qq || echo "$(basename "$0"): some deb-src indexes failed; going on" >&2
}

# Fetches the source packages (name=version ...) into the current folder; apt's chatter is shown
# only when it fails.
fetch_sources() {
  apt-get "${APT_OPTIONS[@]}" source -qq "$@" >/dev/null 2>source.log || { cat source.log >&2; return 1; }
}

# Runs a build step with its output in a log, shown only when the step fails.
logged() {
  local log=$1
  shift
  "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "$(basename "$0"): failed: $*" >&2; exit 1; }
}
