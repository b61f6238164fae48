#!/usr/bin/env bash
# Installs the Debian packages sipline needs to build, test and run. Idempotent and quiet when
# everything is already present.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config clang-14 libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libgsm1-dev libmd-dev libosip2-dev libortp-dev libsofia-sip-ua-dev libspandsp-dev libspeexdsp-dev libtomlplusplus-dev
  sip-tester tshark iproute2 util-linux linux-perf valgrind
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  python3-gi gir1.2-gstreamer-1.0
  sox libsox-fmt-base espeak-ng socat procps kamailio
  baresip-core linphone-cli sngrep sipvicious nftables fail2ban
  libmicrohttpd-dev libsystemd-dev lintian scdoc python3-prometheus-client chromium logrotate
  dpkg-dev systemd man-db adduser
)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
