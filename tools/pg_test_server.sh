#!/usr/bin/env bash
# A throwaway PostgreSQL 15 server with the central record's schema, for tests and trials:
# initdb as an unprivileged user into a temporary directory, the server on 127.0.0.1 at a free
# port and on a socket in that directory (the administrator, trusted), the schema applied to
# the database `central`. As an administrator runs it across sites, benches are admitted over
# TLS only (hostssl lines), with a certificate from a throwaway authority made here with
# openssl (for localhost and 127.0.0.1): bench_a and bench_b log in with passwords, which stand
# in a pgpass file there, and bench_c with a client certificate and no password. A second,
# foreign authority signs nothing of this server. Stopped and removed at the end, also when the
# command fails or is interrupted.
#
# Usage: pg_test_server.sh COMMAND [ARG...]
#   Runs COMMAND with, in its environment:
#     ORVANTA_PG_BENCH_A, ORVANTA_PG_BENCH_B  a bench's connection string (host, port, dbname,
#                                             user; TLS as libpq's default sslmode negotiates it)
#     ORVANTA_PG_BENCH_A_TLS                  bench_a with sslmode=verify-full and the authority
#     ORVANTA_PG_BENCH_C                      bench_c: verify-full and its client certificate
#     ORVANTA_PG_FOREIGN_CA                   the foreign authority's certificate (a file)
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
for tool in "$pg_bin/initdb" "$pg_bin/pg_ctl" psql openssl; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: install postgresql-15 and openssl (tools/install_deps.sh)" >&2; exit 1; }
done

# Under /tmp: `nobody` must reach it, and a socket's path must stay short.
dir=$(mktemp -d /tmp/pg-test.XXXXXX)
[ "$(id -u)" -ne 0 ] || chown nobody: "$dir"
started=false
# A backend a test stopped (SIGSTOP) would hold up the server's stop: resumed first.
resume_backends() {
    local postmaster stat fields
    postmaster=$(head -n 1 "$dir/data/postmaster.pid" 2>/dev/null) || return 0
    for stat in /proc/[0-9]*/stat; do
        fields=$(cat "$stat" 2>/dev/null) || continue
        fields=${fields##*) } # after the command's name: state, parent, ...
        [ "$(cut -d' ' -f2 <<<"$fields")" = "$postmaster" ] && kill -CONT "$(basename "$(dirname "$stat")")" 2>/dev/null
    done
    return 0
}
cleanup() {
    if $started; then
        resume_backends
        server "$dir" stop 2>/dev/null || as_owner "$dir" "$pg_bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The throwaway authorities and certificates in $dir/tls (EC P-256 keys: quick to make).
tls=$dir/tls
new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tls/$1.key" 2>/dev/null; }
authority() { # NAME COMMON-NAME
    new_key "$1"
    openssl req -x509 -new -key "$tls/$1.key" -subj "/CN=$2" -days 2 -out "$tls/$1.crt" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
signed() { # NAME COMMON-NAME EXTENSIONS: a certificate of the fleet's authority
    new_key "$1"
    openssl req -new -key "$tls/$1.key" -subj "/CN=$2" -out "$tls/$1.csr"
    openssl x509 -req -in "$tls/$1.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial \
        -days 2 -extfile <(printf '%s\n' "$3") -out "$tls/$1.crt" 2>/dev/null
}
make_certificates() {
    mkdir "$tls"
    authority ca "Orvanta test fleet authority"
    authority foreign-ca "Another authority"
    signed server localhost $'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth'
    signed bench_c bench_c "extendedKeyUsage=clientAuth" # a `cert` login's role is its CN
    chmod 600 "$tls"/*.key
    [ "$(id -u)" -ne 0 ] || chown nobody: "$tls/server.key" # the server's, readable by it alone
}

# Benches over TLS only: no `host` line, so a connection without TLS finds no entry.
admit_benches_over_tls() {
    printf '%s\n' "ssl = on" "ssl_cert_file = '$tls/server.crt'" "ssl_key_file = '$tls/server.key'" \
        "ssl_ca_file = '$tls/ca.crt'" >>"$dir/data/postgresql.conf"
    printf '%s\n' "# TYPE  DATABASE USER     ADDRESS       METHOD" \
        "local   all      all                    trust" \
        "hostssl all      bench_c  127.0.0.1/32  cert" \
        "hostssl all      all      127.0.0.1/32  scram-sha-256" >"$dir/data/pg_hba.conf"
}

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
make_certificates
admit_benches_over_tls
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
    CREATE ROLE bench_b LOGIN IN ROLE orvanta_bench PASSWORD 'test-pass-b';
    CREATE ROLE bench_c LOGIN IN ROLE orvanta_bench;" >/dev/null
port=$(cat "$dir/port")
# Any host name: benches reach the server as 127.0.0.1, and as localhost for its certificate;
# any database: a test may make more of them (a server of an older revision beside `central`).
printf '*:%s:*:bench_a:test-pass-a\n*:%s:*:bench_b:test-pass-b\n' \
    "$port" "$port" >"$dir/pgpass"
chmod 600 "$dir/pgpass"

export PGPASSFILE="$dir/pgpass"
export ORVANTA_PG_ADMIN="$admin"
export ORVANTA_PG_BENCH_A="host=127.0.0.1 port=$port dbname=central user=bench_a"
export ORVANTA_PG_BENCH_B="host=127.0.0.1 port=$port dbname=central user=bench_b"
verified="host=localhost hostaddr=127.0.0.1 port=$port dbname=central sslmode=verify-full sslrootcert=$tls/ca.crt"
export ORVANTA_PG_BENCH_A_TLS="$verified user=bench_a"
export ORVANTA_PG_BENCH_C="$verified user=bench_c sslcert=$tls/bench_c.crt sslkey=$tls/bench_c.key"
export ORVANTA_PG_FOREIGN_CA="$tls/foreign-ca.crt"
export ORVANTA_PG_SERVER="$here/pg_test_server.sh server $dir"
status=0
"$@" || status=$?
exit $status
