# A private apt configuration beside the machine's: the same mirrors as the
# machine's own sources (deb and deb-src, amd64 and i386), its own package
# lists, download cache and an empty package status, so that nothing of the
# system's apt state changes. Sourced by the scripts that fetch Debian source
# packages and the 32-bit Wine; sets APT_OPTS for apt-get and apt-cache.
#
# private_apt_init DIR   writes the configuration under DIR and updates its lists
#                        (once a day at most).

private_apt_init() {
  local dir=$1
  mkdir -p "$dir/etc/sources.list.d" "$dir/lists/partial" "$dir/cache" "$dir/archives/partial"
  : >"$dir/status.new"
  [ -f "$dir/status" ] || mv "$dir/status.new" "$dir/status"
  rm -f "$dir/status.new"

  # One-line sources: each "deb" entry also as "deb-src".
  local list=$dir/etc/sources.list.new
  : >"$list"
  if [ -f /etc/apt/sources.list ]; then
    sed -n -E 's/^[[:space:]]*deb[[:space:]]+/&/p' /etc/apt/sources.list >>"$list"
    sed -n -E 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' /etc/apt/sources.list >>"$list"
  fi
  # deb822 sources: every stanza that has "deb" gets "deb-src" too.
  rm -f "$dir"/etc/sources.list.d/*.sources
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f" >"$dir/etc/sources.list.d/$(basename "$f")"
  done
  for f in /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n -E 's/^[[:space:]]*deb[[:space:]]+/&/p; s/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$list"
  done
  mv "$list" "$dir/etc/sources.list"
  if [ ! -s "$dir/etc/sources.list" ] && ! ls "$dir"/etc/sources.list.d/*.sources >/dev/null 2>&1; then
    echo "private-apt: the machine has no apt sources to copy" >&2
    return 1
  fi

  APT_OPTS=(
    -o "Dir::Etc::sourcelist=$dir/etc/sources.list"
    -o "Dir::Etc::sourceparts=$dir/etc/sources.list.d"
    -o "Dir::State::Lists=$dir/lists"
    -o "Dir::State::status=$dir/status"
    -o "Dir::Cache=$dir/cache"
    -o "Dir::Cache::archives=$dir/archives"
    -o "APT::Architectures::=amd64"
    -o "APT::Architectures::=i386"
    -o "Debug::NoLocking=1"
  )
  # The download sandbox user must be able to write the private folders.
  if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
    chown -R _apt:root "$dir/lists/partial" "$dir/archives/partial" 2>/dev/null || true
  else
    APT_OPTS+=(-o "APT::Sandbox::User=$(id -un)")
  fi
  if [ -z "$(find "$dir/lists" -maxdepth 1 -name '*Packages*' -mmin -1440 2>/dev/null | head -1)" ] ||
     [ -z "$(find "$dir/lists" -maxdepth 1 -name '*Sources*' 2>/dev/null | head -1)" ]; then
    apt-get "${APT_OPTS[@]}" -qq update
  fi
}
