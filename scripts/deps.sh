# Sourced by run.sh and test.sh: installs the Debian packages the build needs
# when any of them is missing. Uses sudo when not run as root.
QUILLMINT_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-webengine-dev qt6-svg-dev libgl-dev
  libcurl4-openssl-dev libsimpleini-dev
  # Site passwords go to the desktop keyring; the tests run their own
  # GNOME Keyring on a private D-Bus session bus.
  qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon dbus-bin
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev zlib1g-dev
  python3 python3-pyftpdlib python3-openssl openssl fonts-dejavu-core xvfb x11-utils
  vsftpd curl
  # The peer that bench_publish times the publish command against.
  lftp
  # The SFTP tests start sshd with a config of their own on a loopback port;
  # they neither use nor start or stop the system's ssh service.
  openssh-server openssh-client
  desktop-file-utils appstream dpkg-dev file
)

quillmint_install_deps() {
  local missing=()
  local p
  for p in "${QUILLMINT_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
