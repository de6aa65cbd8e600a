#!/usr/bin/env bash
# postgres_server.sh start|stop DIR: a throwaway PostgreSQL server for the tests, from Debian's
# packages. initdb makes its cluster in DIR/data as an unprivileged user (the server refuses to
# run as root: as root, the package's postgres user runs it), trusting local connections; it
# listens on a Unix socket in DIR only, so that no port of the machine is taken or met. start
# writes the connection string to DIR/conninfo; stop ends the server at once (nothing it holds
# is kept). A server left by an earlier run in DIR is stopped first.
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
    if [ -f "$dir/data/postmaster.pid" ]; then
        "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
}
case "$action" in
start)
    stop
    rm -rf "$dir"
    mkdir -p "$dir"
    chmod 700 "$dir"
    [ "${#as[@]}" -eq 0 ] || chown postgres "$dir"
    "${as[@]}" "$bin/initdb" -D "$dir/data" --auth=trust --username=postgres --encoding=UTF8 \
        --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        exit 1
    }
    "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses='' -k $dir -p 5432 -c fsync=off -c synchronous_commit=off" \
        start >/dev/null || {
        cat "$dir/server.log" >&2
        exit 1
    }
    echo "postgresql:///postgres?host=$dir&port=5432&user=postgres" >"$dir/conninfo"
    ;;
stop)
    stop
    ;;
*)
    echo "usage: postgres_server.sh start|stop DIR" >&2
    exit 2
    ;;
esac
