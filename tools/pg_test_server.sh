#!/usr/bin/env bash
# A throwaway PostgreSQL 15 server with the central record's schema, for tests and trials:
# initdb as an unprivileged user into a temporary directory, the server on 127.0.0.1 at a free
# port (password logins, as a bench makes them) and on a socket in that directory (the
# administrator, trusted), the schema applied to the database `central`, and two benches,
# bench_a and bench_b, whose passwords stand in a pgpass file there. Stopped and removed at the
# end, also when the command fails or is interrupted.
#
# Usage: pg_test_server.sh COMMAND [ARG...]
#   Runs COMMAND with, in its environment:
#     ORVANTA_PG_BENCH_A, ORVANTA_PG_BENCH_B  a bench's connection string (host, port, dbname, user)
#     ORVANTA_PG_ADMIN                        the administrator's connection string (socket)
#     ORVANTA_PG_SERVER                       "$0 server" with the cluster: append stop or start
#     PGPASSFILE                              the benches' passwords
#   and exits with COMMAND's status.
# Usage: pg_test_server.sh server DIR stop|start   (the server of a running COMMAND)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
schema="$here/../packaging/postgresql/central-record.sql"
pg_bin=/usr/lib/postgresql/15/bin

# The cluster belongs to `nobody` when run as root (initdb refuses root).
as_owner() { (cd "$1" && shift && if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi); }

server() { # DIR stop|start
    local dir=$1 port
    port=$(cat "$dir/port")
    case $2 in
    stop) as_owner "$dir" "$pg_bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null ;;
    start) as_owner "$dir" "$pg_bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k '$dir' -p $port -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null ;;
    esac
}

if [ "${1:-}" = server ]; then
    server "$2" "$3"
    exit
fi
[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
for tool in "$pg_bin/initdb" "$pg_bin/pg_ctl" psql; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: install postgresql-15 (tools/install_deps.sh)" >&2; exit 1; }
done

# Under /tmp: `nobody` must reach it, and a socket's path must stay short.
dir=$(mktemp -d /tmp/pg-test.XXXXXX)
[ "$(id -u)" -ne 0 ] || chown nobody: "$dir"
started=false
cleanup() {
    if $started; then
        server "$dir" stop 2>/dev/null || as_owner "$dir" "$pg_bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

free_port() { # a port on which nothing answers now
    local port
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
    return 1
}

as_owner "$dir" "$pg_bin/initdb" -D "$dir/data" -E UTF8 --locale=C.UTF-8 -U admin --no-sync \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 ||
    { echo "initdb failed:" >&2; cat "$dir/initdb.log" >&2; exit 1; }
for _ in 1 2 3; do # a port taken between the choice and the start: another one
    free_port >"$dir/port"
    if server "$dir" start; then started=true; break; fi
done
$started || { echo "the test server did not start:" >&2; cat "$dir/server.log" >&2; exit 1; }

unset PGSERVICE PGSERVICEFILE PGOPTIONS PGSSLMODE PGDATABASE PGUSER PGHOST PGPORT PGHOSTADDR PGPASSWORD
admin="host=$dir port=$(cat "$dir/port") dbname=central user=admin"
psql -X -q -v ON_ERROR_STOP=1 -d "host=$dir port=$(cat "$dir/port") dbname=postgres user=admin" \
    -c "CREATE DATABASE central" >/dev/null
psql -X -q -v ON_ERROR_STOP=1 -d "$admin" -f "$schema" >/dev/null
psql -X -q -v ON_ERROR_STOP=1 -d "$admin" -c "
    CREATE ROLE bench_a LOGIN IN ROLE orvanta_bench PASSWORD 'test-pass-a';
    CREATE ROLE bench_b LOGIN IN ROLE orvanta_bench PASSWORD 'test-pass-b';" >/dev/null
port=$(cat "$dir/port")
# Any database: a test may make more of them (a server of an older revision beside `central`).
printf '127.0.0.1:%s:*:bench_a:test-pass-a\n127.0.0.1:%s:*:bench_b:test-pass-b\n' \
    "$port" "$port" >"$dir/pgpass"
chmod 600 "$dir/pgpass"

export PGPASSFILE="$dir/pgpass"
export ORVANTA_PG_ADMIN="$admin"
export ORVANTA_PG_BENCH_A="host=127.0.0.1 port=$port dbname=central user=bench_a"
export ORVANTA_PG_BENCH_B="host=127.0.0.1 port=$port dbname=central user=bench_b"
export ORVANTA_PG_SERVER="$here/pg_test_server.sh server $dir"
status=0
"$@" || status=$?
exit $status
