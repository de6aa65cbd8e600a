#!/usr/bin/env bash
# postgres_server.sh start|stop DIR: a throwaway PostgreSQL server for the tests, from Debian's
# packages. initdb makes its cluster in a new folder under /tmp as an unprivileged user (the
# server refuses to run as root: as root, the package's postgres user runs it, and that user
# may not be able to reach DIR, nor may a socket's path be as long as DIR's), trusting local
# connections; it listens on a Unix socket in that folder only, so that no port of the machine
# is taken or met. start writes the connection string to DIR/conninfo and the folder's name to
# DIR/server; stop ends the server at once (nothing it holds is kept) and removes the folder. A
# server left by an earlier run for DIR is stopped first.
set -euo pipefail
action="$1"
dir="$2"
bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "postgres_server.sh: no PostgreSQL server is installed (Debian's postgresql)" >&2
    exit 1
fi
as=()
if [ "$(id -u)" = 0 ]; then
    if ! id postgres >/dev/null 2>&1; then
        useradd --system --home-dir /nonexistent --shell /usr/sbin/nologin postgres
    fi
    as=(runuser -u postgres --)
fi
stop() {
    local server
    server="$(cat "$dir/server" 2>/dev/null || true)"
    [ -n "$server" ] || return 0
    if [ -f "$server/data/postmaster.pid" ]; then
        "${as[@]}" "$bin/pg_ctl" -D "$server/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    case "$server" in /tmp/iitcalc-pg.*) rm -rf "$server" ;; esac
    rm -f "$dir/server"
}
case "$action" in
start)
    stop
    rm -rf "$dir"
    mkdir -p "$dir"
    server="$(mktemp -d /tmp/iitcalc-pg.XXXXXX)"
    echo "$server" >"$dir/server"
    chmod 700 "$server"
    [ "${#as[@]}" -eq 0 ] || chown postgres "$server"
    "${as[@]}" "$bin/initdb" -D "$server/data" --auth=trust --username=postgres --encoding=UTF8 \
        --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        exit 1
    }
    "${as[@]}" "$bin/pg_ctl" -D "$server/data" -l "$server/server.log" -w -t 60 \
        -o "-c listen_addresses='' -k $server -p 5432 -c fsync=off -c synchronous_commit=off" \
        start >/dev/null || {
        cat "$server/server.log" >&2
        exit 1
    }
    echo "postgresql:///postgres?host=$server&port=5432&user=postgres" >"$dir/conninfo"
    ;;
stop)
    stop
    ;;
*)
    echo "usage: postgres_server.sh start|stop DIR" >&2
    exit 2
    ;;
esac
