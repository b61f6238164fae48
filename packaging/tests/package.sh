#!/usr/bin/env bash
# The Debian package, built by CPack from this build and checked by lintian, installed with dpkg
# into a copy-on-write view of this machine (overlayfs in a private mount namespace: nothing
# reaches the machine itself): it holds what it lists, its unit verifies, the settings it ships
# start nothing, and its binary, run as the unit runs it (its user, its one capability, its
# working directory, a user added to its settings), takes a call from SIPp with authentication
# and plays its prompts from /usr/share/sipline; SIGHUP applies a good file and refuses a broken
# one, keeping the settings in force; purging leaves no state behind.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
scenarios=$source/gateway/tests/sipp
# shellcheck source=../../gateway/tests/checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
work=$(mktemp -d /tmp/sipline-package-XXXXXX)
root=$work/root
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    netns_cleanup
    umount -R -l "$root" 2>/dev/null
    umount -l "$work/layer" 2>/dev/null
    # Never a removal through a mount that is still there.
    if grep -qF " $work/" /proc/self/mounts; then
        echo "mounts left under $work; not removed"
    elif [ -n "${SIPLINE_KEEP:-}" ]; then
        echo "kept $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
in_root() { chroot "$root" "$@"; }

echo "== the package builds and lintian finds no error"
(cd "$build" && cpack --config CPackConfig.cmake -B "$work/package") > "$work/cpack.out" 2>&1 ||
    { cat "$work/cpack.out"; exit 1; }
deb=$(ls "$work"/package/sipline_*_*.deb)
lintian --fail-on error "$deb" > "$work/lintian.out" 2>&1 ||
    fail "lintian: $(grep '^E:' "$work/lintian.out")"

echo "== installed into a copy of this machine, it holds what it lists"
mkdir -p "$work/layer" "$root"
mount -t tmpfs tmpfs "$work/layer"
mkdir "$work/layer/upper" "$work/layer/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root"
# The device nodes a program needs, each bound alone: never the machine's whole /dev.
mount -t tmpfs tmpfs "$root/dev"
for node in null zero full random urandom tty; do
    touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
done
ln -s /proc/self/fd "$root/dev/fd"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs tmpfs "$root/tmp"
cp "$deb" "$root/tmp/"
in_root dpkg --purge sipline > /dev/null 2>&1
in_root dpkg -i "/tmp/$(basename "$deb")" > "$work/dpkg.out" 2>&1 ||
    { cat "$work/dpkg.out"; exit 1; }
for file in /usr/sbin/sipline /usr/share/sipline/enter.vox /usr/share/sipline/notfound.vox \
    /etc/sipline/sipline.toml /lib/systemd/system/sipline.service /etc/logrotate.d/sipline \
    /etc/fail2ban/filter.d/sipline.conf /etc/fail2ban/filter.d/sipline-journal.conf \
    /etc/fail2ban/jail.d/sipline.conf /usr/share/man/man8/sipline.8.gz \
    /usr/share/doc/sipline/copyright; do
    [ -s "$root$file" ] || fail "$file is not installed"
done
in_root dpkg-query -W -f='${Conffiles}\n' sipline | grep -q "/etc/sipline/sipline.toml " ||
    fail "the settings are not a conffile"
user=$(in_root getent passwd sipline)
[ -n "$user" ] || fail "no user sipline"
[ "$(echo "$user" | cut -d: -f3)" -lt 1000 ] || fail "sipline is not a system user: $user"
[ "$(in_root stat -c '%U:%G %a' /etc/sipline/sipline.toml)" = "root:sipline 640" ] ||
    fail "the settings are $(in_root stat -c '%U:%G %a' /etc/sipline/sipline.toml), not root:sipline 640"
zcat "$root/usr/share/man/man8/sipline.8.gz" | grep -q "SIGHUP" || fail "the manual page says nothing of SIGHUP"
in_root logrotate -d /etc/logrotate.d/sipline > "$work/logrotate.out" 2>&1 ||
    fail "logrotate refuses its file: $(grep -i error "$work/logrotate.out")"

echo "== the unit verifies"
unit=/lib/systemd/system/sipline.service
in_root systemd-analyze verify "$unit" > "$work/verify.out" 2>&1 ||
    fail "systemd-analyze verify: $(cat "$work/verify.out")"
[ -s "$work/verify.out" ] && fail "systemd-analyze verify has remarks: $(cat "$work/verify.out")"
in_root systemd-analyze security --offline=true "$unit" > "$work/security.out" 2>&1
grep -a "Overall exposure level" "$work/security.out"

echo "== the shipped settings start nothing and say how to add a user"
in_root setpriv --reuid=sipline --regid=sipline --init-groups /usr/sbin/sipline \
    --config /etc/sipline/sipline.toml > "$work/first.out" 2>&1
status=$?
[ "$status" -eq 2 ] || fail "the shipped settings started with status $status"
grep -q 'security.authenticate: expected at least one \[\[security.users\]\].*add one' "$work/first.out" ||
    fail "no word of how to add a user: $(cat "$work/first.out")"

echo "== run as its unit runs it, it takes an authenticated call"
gw=10.23.0.1
caller=10.23.0.2
netns_caller_start "$gw" "$caller"
hostname gw
echo "$gw gw" >> "$root/etc/hosts"
unit_key() { sed -n "s/^$1=//p" "$root$unit" | head -n 1; }
settings=/etc/sipline/sipline.toml
# A SIP port below 1024, which only the unit's capability opens to its user.
sed -i 's/^port = 5060$/port = 506/' "$root$settings"
cat >> "$root$settings" <<'TOML'

[[security.users]]
name = "alice"
password = "wonderland"
TOML
# What the service manager makes for StateDirectory, LogsDirectory and RuntimeDirectory.
in_root install -d -o sipline -g sipline /var/lib/sipline /run/sipline
state=$root$(unit_key WorkingDirectory)
caps=$(unit_key AmbientCapabilities | tr 'A-Z' 'a-z' | sed 's/cap_/+/g; s/ /,/g')
socat -u "UNIX-RECV:$root/run/notify" "OPEN:$work/notify,creat,append" &
for _ in $(seq 50); do [ -S "$root/run/notify" ] && break; sleep 0.1; done
chmod 666 "$root/run/notify"
# chroot itself, not in_root: $! must be the process that becomes the gateway.
chroot "$root" env NOTIFY_SOCKET=/run/notify setpriv --reuid="$(unit_key User)" --regid="$(unit_key Group)" \
    --init-groups --inh-caps="$caps" --ambient-caps="$caps" --bounding-set="$caps" --no-new-privs \
    sh -c "cd $(unit_key WorkingDirectory) && exec $(unit_key ExecStart)" \
    > "$work/out" 2> "$work/err" &
gateway=$!
wait_for "$work/notify" "READY=1" 1 15 || { cat "$work/err"; exit 1; }
ss -Hlun "sport = :506" | grep -q . || fail "READY=1 came before the SIP socket listened"
grep -q "warning: the prompt" "$work/err" && fail "the prompts were not found: $(grep prompt "$work/err")"
control() { printf '%s\n' "$1" | socat -t 2 - "UNIX-CONNECT:$state/boardsim.sock"; }

# call NAME NUMBER USER PASSWORD [PAUSE_MS]: one call from the caller's namespace, talking for
# PAUSE_MS (default 500); 0 when it passed.
call() {
    timeout 30 "${netns_caller[@]}" sipp -sf "$scenarios/$1.xml" -s "$2" "$gw:506" -i "$caller" \
        -p 0 -m 1 -l 1 -nostdin -timeout 20 -timeout_error -d "${5:-500}" -au "$3" -ap "$4" \
        -trace_err -error_file "$work/$1.$2.err" > "$work/$1.$2.out" 2>&1
}
call auth_call 0611111111 alice wonderland || fail "the authenticated call failed: $(tail -n 5 "$work/auth_call.0611111111.err")"
status_is dialled 0611111111 "after the call"
grep -q '" 401$' "$root/var/log/sipline/access.log" 2>/dev/null ||
    fail "no challenge in /var/log/sipline/access.log"

echo "== a second gateway on the same port says so and ends, status 1"
mkdir -p "$root/tmp/second"
in_root sh -c "cd /tmp/second && exec /usr/sbin/sipline --config $settings" > "$work/second.out" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "a gateway that could not bind its SIP port ended with status $status"
grep -q "sipline: can't listen for SIP on 0.0.0.0 port 506" "$work/second.out" ||
    fail "no word of the port taken: $(tail -n 3 "$work/second.out")"

echo "== a call from the line hears the installed prompts"
[ "$(control ring)" = "OK ringing" ] || fail "ring was not taken"
for _ in $(seq 50); do control status | grep -q "prompts=/usr" && break; sleep 0.1; done
control "digits 9999#" > /dev/null
for _ in $(seq 60); do control status | grep -q "hook=on" && break; sleep 0.1; done
status_is prompts /usr/share/sipline/enter.vox,/usr/share/sipline/notfound.vox "after 9999#"

echo "== SIGHUP: a good file is applied once the call in progress ends, a broken one refused"
call auth_call 0655555555 alice wonderland 4000 &
long_call=$!
for _ in $(seq 100); do control status | grep -q "line=connected" && break; sleep 0.1; done
status_is dialled 0655555555 "during the long call"
sed -i 's/^name = "alice"$/name = "bob"/; s/^port = 506$/port = 5070/' "$root$settings"
kill -HUP "$gateway"
wait_for "$work/err" "sipline: reload: $settings read; applied when the line is idle"
grep -q "sipline: reload: $settings applied" "$work/err" && fail "the reload was applied during a call"
wait "$long_call" || fail "the call in progress did not last through the reload: $(tail -n 5 "$work/auth_call.0655555555.err")"
wait_for "$work/err" "sipline: reload: $settings applied"
grep -q "sipline: reload: \[sip\] changed: taken at the next restart" "$work/err" ||
    fail "the change of port was not named as waiting for a restart"
call auth_call 0622222222 bob wonderland || fail "the user added by the reload was refused"
call auth_refused 0633333333 alice wonderland || fail "the user removed by the reload still got in"
cp "$root$settings" "$work/good.toml"
printf '[security]\nauthenticate = yes\n' >> "$root$settings"
kill -HUP "$gateway"
wait_for "$work/err" "sipline: reload refused, the running settings stay: $settings:"
call auth_call 0644444444 bob wonderland || fail "after a broken file the call did not authenticate"
status_is dialled 0644444444 "after the broken file"
kill -0 "$gateway" 2>/dev/null || fail "sipline ended"

echo "== the journal filter reads its security lines"
sed -n "s/^\([0-9-]* [0-9:]* sipline: security\)/gw sipline[$gateway]: \1/p" "$work/err" > "$work/journal"
matched=$(fail2ban-regex "$work/journal" "$root/etc/fail2ban/filter.d/sipline-journal.conf" 2>&1 |
    sed -n 's/^Lines: .* \([0-9]*\) matched.*/\1/p')
[ "${matched:-0}" -ge 1 ] || fail "the journal filter matched ${matched:-no} lines"

kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi

echo "== purged, it leaves no state"
in_root dpkg --purge sipline > "$work/purge.out" 2>&1 || fail "purge: $(cat "$work/purge.out")"
for path in /usr/sbin/sipline /etc/sipline /var/lib/sipline /var/log/sipline; do
    [ -e "$root$path" ] && fail "$path is left after purge"
done
in_root dpkg-statoverride --list /etc/sipline/sipline.toml > /dev/null && fail "the override is left"

if [ "$failures" -ne 0 ]; then
    echo "--- stderr (end)"; tail -n 30 "$work/err"
    exit 1
fi
echo "package: all passed"
