#!/usr/bin/env bash
# Walks the README's server set-up exactly as written: the indented block after the line
# "<!-- walked as written by tests/readme/server_walk.sh -->", taken from the README itself,
# run by bash as root in a checkout holding build/kqdb, on a machine without any cluster.
#
# So that the machine's own clusters are neither seen nor touched, the walk runs in
# namespaces of its own: Debian's cluster folders (/etc/postgresql, /var/lib/postgresql,
# /var/log/postgresql, /run/postgresql) are empty throwaway folders there, the network is a
# private loopback that also answers as the server's address in the README, and the process
# tree is its own, so that every server the walk started ends with it, however it ends.
set -euo pipefail
readme="$1"
kqdb="$2"
marker='<!-- walked as written by tests/readme/server_walk.sh -->'
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "the walk runs as root, as the README's server steps do (CI runs the tests as root)"
for tool in unshare runuser ip pg_lsclusters pg_createcluster pg_ctlcluster pg_conftool psql createdb; do
  command -v "$tool" >/dev/null || fail "missing $tool (scripts/install-deps.sh --tests installs it)"
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# The block: the indented lines after the marker, up to the first line that is not.
awk -v marker="$marker" '
  found && /^    / { print substr($0, 5); started = 1; next }
  found && NF == 0 && !started { next }
  found { exit }
  index($0, marker) { found = 1 }
' "$readme" >"$work/walk.sh"
[ -s "$work/walk.sh" ] || fail "no block after \"$marker\" in $readme"
echo "the README's server steps:"
sed 's/^/    /' "$work/walk.sh"

# A checkout as the README expects it: build/kqdb, readable by postgres.
mkdir -p "$work/checkout/build"
cp "$kqdb" "$work/checkout/build/kqdb"
chmod -R a+rX "$work/checkout"

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
mount --make-rprivate /
for dir in /etc/postgresql /var/lib/postgresql /var/log/postgresql /run/postgresql; do
  mkdir -p "$dir"
  mount -t tmpfs tmpfs "$dir"
done
chown postgres:postgres /etc/postgresql /var/lib/postgresql /run/postgresql
chmod 2775 /run/postgresql
chown root:postgres /var/log/postgresql
chmod 1775 /var/log/postgresql
# Without a systemd to hand over to, pg_ctlcluster runs the server itself, in here.
if [ -d /run/systemd/system ]; then mount -t tmpfs tmpfs /run/systemd/system; fi
ip link set lo up
ip addr add 192.168.10.1/24 dev lo
[ -z "$(pg_lsclusters -h)" ] || { echo "FAIL: clusters seen inside the walk" >&2; exit 1; }

cd "$WORK/checkout"
echo "--- walking"
env -u PGHOST -u PGPORT -u PGDATABASE -u PGUSER -u PGPASSWORD bash -euxo pipefail "$WORK/walk.sh" >"$WORK/walk.out" 2>&1 ||
  { cat "$WORK/walk.out"; echo "FAIL: a step of the README failed" >&2; exit 1; }
cat "$WORK/walk.out"
echo "--- checking"
# What the steps claim: the swipe printed as recorded, its row is on the server, and the
# server listens on the network.
grep -q '^【0101 张伟】 .* 刷卡成功！$' "$WORK/walk.out" || { echo "FAIL: no recorded swipe printed" >&2; exit 1; }
rows="$(runuser -u postgres -- psql -h /var/run/postgresql -p 5432 -d kq -Atc "SELECT count(*) FROM sgdjb WHERE num = '0101'")"
[ "$rows" = 1 ] || { echo "FAIL: the server holds $rows records of 0101, not 1" >&2; exit 1; }
listening="$(runuser -u postgres -- psql -h /var/run/postgresql -p 5432 -d kq -Atc "SHOW listen_addresses")"
[ "$listening" = "*" ] || { echo "FAIL: listen_addresses is $listening" >&2; exit 1; }
echo "server walk: the README's steps ran as written and the server takes swipes"
INSIDE

# A pid namespace: when the walk's shell ends, the kernel ends every process it left.
WORK="$work" timeout 300 unshare --mount --net --pid --fork --mount-proc bash "$work/inside.sh" ||
  fail "the README's server steps did not walk through"
