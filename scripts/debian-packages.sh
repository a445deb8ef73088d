# Sourced by the setup scripts: install_missing PACKAGE... installs from
# Debian's packages those not installed yet, quietly, in one apt run.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # tshark asks whether ordinary users may capture; the answer does not matter here.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
