#!/usr/bin/env bash
# The central record's schema (packaging/postgresql/central-record.sql) on a real PostgreSQL 15:
# a throwaway cluster in a temporary directory, reached only through a Unix socket in that
# directory, stopped and removed at the end whatever happens. Checks by behaviour what a bench's
# role may and may not do, the views, the schema's version and revision, and a second
# application; then the upgrade of a server made by the previous schema (revision 1, kept in
# tests/ as it was), with the rows of benches of both revisions before and after it, run twice.
#
# Usage: test_central_record.sh [central-record.sql]   (its upgrade script lies beside it)
set -euo pipefail
schema=${1:-"$(cd "$(dirname "$0")/.." && pwd)/packaging/postgresql/central-record.sql"}
upgrade="$(dirname "$schema")/central-record-upgrade-2.sql"
previous="$(cd "$(dirname "$0")" && pwd)/central-record-revision-1.sql"
pg_bin=/usr/lib/postgresql/15/bin

for tool in "$pg_bin/initdb" "$pg_bin/pg_ctl" "$pg_bin/postgres"; do
    [ -x "$tool" ] || { echo "FAIL: $tool is missing: install postgresql-15 (tools/install_deps.sh)"; exit 1; }
done
command -v psql >/dev/null || { echo "FAIL: psql is missing: install postgresql-client-15"; exit 1; }
for file in "$schema" "$upgrade" "$previous"; do
    [ -r "$file" ] || { echo "FAIL: cannot read $file"; exit 1; }
done

# --- the throwaway server ---------------------------------------------------------------------
# initdb refuses to run as root: the cluster then belongs to `nobody`. Its commands run from the
# cluster's own directory, which that user may enter (the caller's may be closed to it). Under
# /tmp, not $TMPDIR: `nobody` must reach it, and a socket's path must stay short.
work=$(mktemp -d /tmp/central-record.XXXXXX)
data="$work/data"
as_owner() { (cd "$work" && "$@"); }
if [ "$(id -u)" -eq 0 ]; then
    chown nobody: "$work"
    as_owner() { (cd "$work" && runuser -u nobody -- "$@"); }
fi

started=false
stop_server() {
    if $started; then
        as_owner "$pg_bin/pg_ctl" -D "$data" -m fast -w -t 30 stop >/dev/null ||
            as_owner "$pg_bin/pg_ctl" -D "$data" -m immediate -w -t 30 stop >/dev/null ||
            echo "could not stop the test server of $data" >&2
    fi
    rm -rf "$work"
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# No TCP address, only a socket in the cluster's own directory: any port number that names the
# socket is free there, and no other server on the machine is ever reached.
port=5432
as_owner "$pg_bin/initdb" -D "$data" -E UTF8 --locale=C.UTF-8 -A trust -U admin --no-sync \
    >"$work/initdb.log" 2>&1 || { echo "FAIL: initdb:"; cat "$work/initdb.log"; exit 1; }
started=true
as_owner "$pg_bin/pg_ctl" -D "$data" -l "$work/server.log" -w -t 60 \
    -o "-k '$work' -p $port -c listen_addresses='' -c fsync=off" start >/dev/null ||
    { echo "FAIL: the test server did not start:"; cat "$work/server.log"; exit 1; }

# Nothing from the caller's environment steers psql elsewhere; days are counted in UTC.
unset PGSERVICE PGSERVICEFILE PGOPTIONS PGPASSFILE PGSSLMODE PGDATABASE PGUSER PGHOST PGPORT PGHOSTADDR
export PGTZ=UTC PGCONNECT_TIMEOUT=10

# --- helpers ----------------------------------------------------------------------------------
# sql ROLE DATABASE STATEMENTS: the rows answered, unaligned, joined by '/'; fails on any error.
sql() {
    local out status=0
    out=$(psql -X -q -At -v ON_ERROR_STOP=1 -h "$work" -p "$port" -U "$1" -d "$2" -c "$3" 2>&1) ||
        status=$?
    tr '\n' '/' <<<"$out" | sed 's|/$||'
    return $status
}
# apply DATABASE [ROLE [FILE]]: the schema file (or FILE) applied as the administrator does it.
apply() { psql -X -q -v ON_ERROR_STOP=1 -h "$work" -p "$port" -U "${2:-admin}" -d "$1" -f "${3:-$schema}" 2>&1; }

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }
finish() {
    echo "$passed passed, $failed failed"
    if [ "$failed" -eq 0 ]; then exit 0; fi
    exit 1
}
# must WHAT ROLE DATABASE STATEMENTS: a step the later checks need; without it they cannot run.
must() {
    local got
    got=$(sql "$2" "$3" "$4") || { fail "$1: $got"; finish; }
}

# expect NAME WANTED ROLE DATABASE STATEMENTS: they succeed and answer WANTED.
expect() {
    local got
    if got=$(sql "$3" "$4" "$5") && [ "$got" = "$2" ]; then pass "$1"; else
        fail "$1: wanted [$2], got [$got]"; fi
}
# refused NAME PATTERN ROLE DATABASE STATEMENTS: they fail with an error matching PATTERN.
refused() {
    local got
    if got=$(sql "$3" "$4" "$5"); then fail "$1: allowed, answering [$got]"
    elif grep -qE -- "$2" <<<"$got"; then pass "$1"
    else fail "$1: refused, but not for the expected reason: $got"; fi
}

# row N SERIAL OUTCOME STARTED ENDED [COLUMN VALUE]...: a bench's INSERT of one finished row, as
# a bench of revision 1 ships it (ENDED empty: an interrupted attempt, NULL on the server); a
# bench of revision 2 adds firmware_key_id and port.
uuid() { printf '00000000-0000-4000-8000-%012d' "$1"; }
row() {
    local after='' ended=NULL
    case $3 in upgraded | already_current) after=B8 ;; esac
    [ -z "$5" ] || ended="'$5'"
    local columns="uuid, bench_id, started_at, ended_at, serial, product, revision_before,
        revision_after, firmware_sha256, outcome, cause, download_ms, readback_ms, tool_version,
        host, \"user\", phase"
    local values
    values="'$(uuid "$1")', $1, '$4', $ended, '$2', 'ORV-100', 'B7', '$after',
        '$(printf '%064d' 0)', '$3', '', 5400, 2100, '1.0.0', 'bench-pc', 'tech', 'read_back'"
    shift 5
    while [ $# -ge 2 ]; do
        columns+=", $1"
        values+=", $2"
        shift 2
    done
    echo "INSERT INTO upgrades ($columns) VALUES ($values)"
}

# --- the schema applied, two benches and a role outside the group -------------------------------
if out=$(sql admin postgres "CREATE DATABASE fleet" && apply fleet); then
    pass "the schema applies to an empty database"
else
    fail "the schema does not apply: $out"
    finish
fi
must "making the roles" admin fleet "CREATE ROLE bench_1 LOGIN IN ROLE orvanta_bench;
    CREATE ROLE bench_3 LOGIN IN ROLE orvanta_bench; CREATE ROLE stranger LOGIN"

expect "a bench reads the schema's version and revision" "1|2" bench_3 fleet \
    "SELECT version, revision FROM schema_info"

# --- a bench appends under its own name, each row once ---------------------------------------
expect "a bench inserts a row, under its own name, received now" "bench_3|upgraded|t" bench_3 fleet \
    "$(row 1 S1 upgraded 2026-12-01T09:58:30.000Z 2026-12-01T10:00:00.120Z);
     SELECT bench, outcome, received_at > now() - interval '1 minute' FROM upgrades"
expect "the same row shipped again with ON CONFLICT DO NOTHING lands once" "1|upgraded" bench_3 fleet \
    "$(row 1 S1 differs 2026-12-01T09:58:30.000Z 2026-12-01T10:00:00.120Z) ON CONFLICT (uuid) DO NOTHING;
     SELECT count(*), min(outcome) FROM upgrades"
refused "a row's identity is unique" "duplicate key value violates unique constraint" bench_3 fleet \
    "$(row 1 S1 upgraded 2026-12-01T09:58:30.000Z 2026-12-01T10:00:00.120Z)"
refused "a bench cannot insert under another bench's name" "violates row-level security policy" \
    bench_3 fleet "$(row 2 S1 upgraded 2026-12-01T11:00:00.000Z 2026-12-01T11:01:00.000Z bench "'bench_1'")"
refused "a bench cannot set the time of arrival" "permission denied for table upgrades" bench_3 fleet \
    "$(row 2 S1 upgraded 2026-12-01T11:00:00.000Z 2026-12-01T11:01:00.000Z received_at "'2020-01-01Z'")"
for outcome in in_progress exploded; do
    refused "the outcome '$outcome' is refused" "upgrades_outcome_known" bench_3 fleet \
        "$(row 2 S1 "$outcome" 2026-12-01T11:00:00.000Z 2026-12-01T11:01:00.000Z)"
done

# --- nothing else ---------------------------------------------------------------------------
refused "a bench cannot UPDATE" "permission denied for table upgrades" bench_3 fleet \
    "UPDATE upgrades SET outcome = 'differs'"
refused "a bench cannot DELETE" "permission denied for table upgrades" bench_3 fleet "DELETE FROM upgrades"
refused "a bench cannot TRUNCATE" "permission denied for table upgrades" bench_3 fleet "TRUNCATE upgrades"
refused "a bench cannot change the schema's version" "permission denied for table schema_info" \
    bench_3 fleet "UPDATE schema_info SET version = 2"
refused "a bench cannot create tables" "permission denied for schema public" bench_3 fleet \
    "CREATE TABLE mine (x int)"
expect "the row is as it was shipped" "1|upgraded" admin fleet "SELECT count(*), min(outcome) FROM upgrades"
refused "a role outside the group cannot connect" "permission denied for database" stranger fleet "SELECT 1"
must "granting the view alone" admin fleet "GRANT CONNECT ON DATABASE fleet TO stranger;
    GRANT USAGE ON SCHEMA public TO stranger; GRANT SELECT ON unit_last_outcome TO stranger"
refused "a view reads with its reader's rights, not its owner's" "permission denied for table upgrades" \
    stranger fleet "SELECT * FROM unit_last_outcome"

# --- the fleet's rows, read by every bench ----------------------------------------------------
expect "a bench reads another bench's rows" "bench_3|S1|upgraded" bench_1 fleet \
    "SELECT bench, serial, outcome FROM upgrades WHERE uuid = '$(uuid 1)'"
# S1: upgraded on bench_3, then on bench_1 it differs, then an install there is interrupted.
# S2: a failed download on bench_1, upgraded on bench_3. S3: checked late in the UTC day.
must "bench_1's rows" bench_1 fleet "$(row 3 S1 differs 2026-12-02T08:59:00.000Z 2026-12-02T09:00:00.000Z);
    $(row 4 S1 interrupted 2026-12-02T15:00:00.000Z '');
    $(row 5 S2 download_failed 2026-12-01T11:59:00.000Z 2026-12-01T12:00:00.000Z);
    $(row 6 '' unit_lost 2026-12-01T14:00:00.000Z 2026-12-01T14:00:02.000Z)"
must "bench_3's rows" bench_3 fleet "$(row 7 S2 upgraded 2026-12-01T12:58:00.000Z 2026-12-01T13:00:00.000Z);
    $(row 8 S3 already_current 2026-12-02T23:29:00.000Z 2026-12-02T23:30:00.000Z)"
expect "the last outcome of each unit, an interrupted attempt included" \
    "S1|ORV-100|interrupted|||bench_1/S2|ORV-100|upgraded|B8|2026-12-01 13:00:00+00|bench_3/S3|ORV-100|already_current|B8|2026-12-02 23:30:00+00|bench_3" \
    bench_1 fleet "SELECT serial, product, outcome, revision_after, ended_at, bench FROM unit_last_outcome ORDER BY serial"
expect "outcomes per day and bench" \
    "2026-12-01|bench_1|download_failed|1/2026-12-01|bench_1|unit_lost|1/2026-12-01|bench_3|upgraded|2/2026-12-02|bench_1|differs|1/2026-12-02|bench_1|interrupted|1/2026-12-02|bench_3|already_current|1" \
    bench_3 fleet "SELECT * FROM outcomes_per_day ORDER BY day, bench, outcome"
expect "days are the reader's" "2026-12-03" bench_3 fleet \
    "SET TimeZone = 'Europe/Berlin'; SELECT day FROM outcomes_per_day WHERE outcome = 'already_current'"

# --- revision 2: who signed the firmware, and the unit's port ------------------------------
# Port 1-1.3 of bench_1's fixture fails twice on one day; its neighbour upgrades.
key="'36C87D036941B00D'"
must "bench_1's rows with ports" bench_1 fleet "
    $(row 20 S20 upgraded 2026-12-03T08:00:00.000Z 2026-12-03T08:01:00.000Z firmware_key_id "$key" port "'1-1.2'");
    $(row 21 S21 download_failed 2026-12-03T08:00:00.000Z 2026-12-03T08:01:00.000Z firmware_key_id "$key" port "'1-1.3'");
    $(row 22 S22 unit_lost 2026-12-03T09:00:00.000Z 2026-12-03T09:01:00.000Z firmware_key_id "$key" port "'1-1.3'")"
expect "a bench of revision 2 ships the signer's key id and the port" "36C87D036941B00D|1-1.3" bench_3 fleet \
    "SELECT firmware_key_id, port FROM upgrades WHERE uuid = '$(uuid 21)'"
expect "a row of a bench of revision 1 has neither" "|" bench_3 fleet \
    "SELECT firmware_key_id, port FROM upgrades WHERE uuid = '$(uuid 1)'"
expect "outcomes per port: the bad socket shows" \
    "1-1.2|upgraded|1/1-1.3|download_failed|1/1-1.3|unit_lost|1" bench_3 fleet \
    "SELECT port, outcome, count FROM outcomes_per_port WHERE day = '2026-12-03' AND bench = 'bench_1' ORDER BY 1, 2"
expect "outcomes per day are as they were" "2026-12-03|bench_1|download_failed|1" bench_3 fleet \
    "SELECT * FROM outcomes_per_day WHERE day = '2026-12-03' AND outcome = 'download_failed'"

# --- applied again: to another database of the same server, and over a taken one ------------------
# This time by the database's owner, no superuser.
if out=$(sql admin postgres "CREATE ROLE keeper LOGIN CREATEROLE" &&
    sql admin postgres "CREATE DATABASE fleet2 OWNER keeper" &&
    apply fleet2 keeper); then
    pass "the database's owner applies the schema to a second database, its group role already made"
else
    fail "the schema does not apply to a second database: $out"
fi
expect "a bench ships to the second database" "1|bench_1" bench_1 fleet2 \
    "$(row 1 S1 upgraded 2026-12-01T09:58:30.000Z 2026-12-01T10:00:00.120Z);
     SELECT version, bench FROM schema_info, upgrades"
if out=$(sql admin postgres "CREATE DATABASE taken" && sql admin taken "CREATE TABLE upgrades (x int)" &&
    apply taken); then
    fail "the schema applied over an existing table"
else
    expect "a failed application leaves nothing made" "" admin taken "SELECT to_regclass('schema_info')"
fi

# --- a server of revision 1 upgraded while its benches ship ---------------------------------
must "a server of revision 1" admin postgres "CREATE DATABASE old"
out=$(apply old admin "$previous") || { fail "the previous schema does not apply: $out"; finish; }
must "rows of benches of revision 1" bench_1 old "$(row 1 S1 upgraded 2026-12-01T09:58:30.000Z 2026-12-01T10:00:00.120Z);
    $(row 2 S2 download_failed 2026-12-01T11:00:00.000Z 2026-12-01T11:01:00.000Z)"
refused "a server of revision 1 has no revision" "column \"revision\" does not exist" bench_1 old \
    "SELECT revision FROM schema_info"
if out=$(apply old admin "$upgrade"); then pass "the upgrade applies"; else fail "the upgrade does not apply: $out"; finish; fi
grep -q "at revision 2" <<<"$out" && pass "the upgrade says what it did" || fail "the upgrade said: $out"
expect "the upgraded server is of version 1, revision 2" "1|2" bench_1 old "SELECT version, revision FROM schema_info"
expect "every row is kept, of unknown signer and port" "S1|upgraded||/S2|download_failed||" admin old \
    "SELECT serial, outcome, firmware_key_id, port FROM upgrades ORDER BY bench_id"
expect "a bench of revision 1 ships to it as before, each row once" "3|1|" bench_1 old \
    "$(row 3 S3 upgraded 2026-12-02T10:00:00.000Z 2026-12-02T10:01:00.000Z) ON CONFLICT (uuid) DO NOTHING;
     $(row 3 S3 upgraded 2026-12-02T10:00:00.000Z 2026-12-02T10:01:00.000Z) ON CONFLICT (uuid) DO NOTHING;
     SELECT count(*), count(*) FILTER (WHERE serial = 'S3'), min(port) FILTER (WHERE serial = 'S3') FROM upgrades"
expect "a bench of revision 2 ships its signer and port to it" "1-1.4" bench_3 old \
    "$(row 4 S4 upgraded 2026-12-02T11:00:00.000Z 2026-12-02T11:01:00.000Z firmware_key_id "$key" port "'1-1.4'");
     SELECT port FROM upgrades WHERE serial = 'S4'"
expect "the view per port reads the upgraded server" "bench_1||download_failed|1" bench_3 old \
    "SELECT bench, port, outcome, count FROM outcomes_per_port WHERE outcome = 'download_failed'"
refused "on the upgraded server a bench still inserts only under its own name" \
    "violates row-level security policy" bench_3 old \
    "$(row 5 S5 upgraded 2026-12-02T12:00:00.000Z 2026-12-02T12:01:00.000Z bench "'bench_1'" port "'1-1.1'")"
refused "on the upgraded server a bench still cannot UPDATE" "permission denied for table upgrades" \
    bench_3 old "UPDATE upgrades SET port = 'x'"
if out=$(apply old admin "$upgrade"); then pass "the upgrade runs again"; else fail "a second upgrade fails: $out"; fi
grep -q "nothing to do" <<<"$out" && pass "a second upgrade does nothing" || fail "the second upgrade said: $out"
expect "after it, the same rows" "4|1|2" admin old "SELECT count(*), min(version), min(revision) FROM upgrades, schema_info"
# The upgraded server is what the schema makes new: the same tables, columns, views and rights
# (pg_dump's \restrict lines carry a key of their own each time).
dump() { pg_dump -s -O -h "$work" -p "$port" -U admin -d "$1" 2>&1 | grep -v -e '^--' -e '^\\restrict ' -e '^\\unrestrict ' | sed '/^$/d'; }
must "a new server to compare with" admin postgres "CREATE DATABASE fresh"
out=$(apply fresh) || fail "the schema does not apply to fresh: $out"
if differences=$(diff <(dump fresh) <(dump old)); then pass "the upgraded server's schema is a new server's"
else fail "the upgraded server's schema differs from a new one's: $differences"; fi
refused "the upgrade refuses a database that is no central record" "relation \"schema_info\" does not exist" \
    admin taken "$(cat "$upgrade")"

finish
