#!/usr/bin/env bash
# Measures the server against the protocol-only baseline and prints one table.
#
#   bench/run.sh          a few minutes: 10000 samples per run where the
#                         scenario is fast enough, a time cap per run elsewhere
#   bench/run.sh --full   10000 samples for every run, however long it takes
#
# It builds a Release tree of its own (build-bench/, or $IFCSIM_BENCH_BUILD),
# starts the real server loop (ifcsim_bench_server) and the baseline
# (ifcsim_baseline) on ephemeral loopback ports, each in a fresh temporary
# working directory (under $TMPDIR, or $IFCSIM_BENCH_DIR when set), and stops
# both when it ends. Every scenario runs both servers side by side, in
# alternating chunks: this machine is shared, so only their ratio counts.
# Then the traffic journal: a second server of the same build with the
# journal on, against the first, side by side; one with a fault rules file
# in place and unchanged, likewise. Then the console's pages:
# each through lighttpd (ifcsim-console in front of the same server), run
# directly, and its GETs alone, side by side.
set -euo pipefail

full=0
for arg in "$@"; do
  case "$arg" in
    --full) full=1 ;;
    -h | --help)
      sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "usage: bench/run.sh [--full]" >&2
      exit 2
      ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
build=${IFCSIM_BENCH_BUILD:-$root/build-bench}
say() { echo "bench: $*" >&2; }

say "building $build (Release)"
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DIFCSIM_BUILD_TESTS=OFF \
  -DIFCSIM_BUILD_BENCH=ON -DIFCSIM_SANITIZE=OFF >"$build/bench-configure.log" 2>&1 ||
  { cat "$build/bench-configure.log" >&2; exit 1; }
# All of it: the console's pages and launcher as well as the bench tools.
cmake --build "$build" -j2 >"$build/bench-build.log" 2>&1 || { cat "$build/bench-build.log" >&2; exit 1; }
bin=$build/bench

work=$(mktemp -d "${IFCSIM_BENCH_DIR:-${TMPDIR:-/tmp}}/ifcsim-bench-XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/server" "$work/baseline" "$work/setfile" "$work/server_j"

# Both servers start in their own empty working directory: the server creates
# its set files from the defaults at the first access, as in the field.
(cd "$work/server" && exec "$bin/ifcsim_bench_server" "$work/server.port" "$work/allocs" \
  >"$work/server.out" 2>"$work/server.err") &
server_pid=$!
pids+=("$server_pid")
(cd "$work/baseline" && exec "$bin/ifcsim_baseline" "$work/baseline.port" >/dev/null 2>&1) &
pids+=("$!")
(cd "$work/server_j" && exec "$bin/ifcsim_bench_server" "$work/server_j.port" - \
  "$work/journal.jsonl" >"$work/server_j.out" 2>"$work/server_j.err") &
server_j_pid=$!
pids+=("$server_j_pid")
# The same server with a readings file in place: the ready-made "ramp", whose
# histograms change at every request.
mkdir "$work/readings"
cp "$root/dist/readings/ramp" "$work/readings.txt"
(cd "$work/readings" && exec "$bin/ifcsim_bench_server" --readings "$work/readings.txt" \
  "$work/readings.port" "$work/readings.allocs" >"$work/readings-server.out" 2>"$work/readings.err") &
readings_pid=$!
pids+=("$readings_pid")
# The same server with --faults: a rules file in place and never changed,
# whose rules act on no request of the runs (what every request pays is the
# check of the file and the look through the rules).
mkdir "$work/faults"
printf '%s\n' '# none acts on IFC_get_stat' 'IFC_set_* lose' 'IFC_get_hist* garble' \
  '* close before next' 'IFC_get_on_off_? delay 10 before block' >"$work/faults.txt"
(cd "$work/faults" && exec "$bin/ifcsim_bench_server" --faults "$work/faults.txt" \
  "$work/faults.port" - >"$work/faults-server.out" 2>"$work/faults.err") &
faults_pid=$!
pids+=("$faults_pid")
for _ in $(seq 100); do
  [[ -s $work/server.port && -s $work/baseline.port && -s $work/server_j.port &&
    -s $work/readings.port && -s $work/faults.port ]] && break
  sleep 0.05
done
sport=$(cat "$work/server.port")
bport=$(cat "$work/baseline.port")
rport=$(cat "$work/readings.port")
jport=$(cat "$work/server_j.port")
fport=$(cat "$work/faults.port")

# The PUT texts: values equal to the defaults, so every GET reply keeps its
# length however often the PUTs run.
printf 'to:90 tw:240' >"$work/to_tw.txt"
on_off="pin_on:70 abs_on:215 abs_off:255 main_on:90 main_off:160 tandem_on:95 tandem_off:150"
on_off+=" stretch_on:0 stretch_off:0 sub1_on:95 sub1_off:135 sub2_on:115 sub2_off:155"
on_off+=" sub3_on:135 sub3_off:175 sub4_on:150 sub4_off:190 sub5_on:165 sub5_off:205"
on_off+=" sub6_on:185 sub6_off:280 sub7_on:200 sub7_off:300 sub8_on:220 sub8_off:300"
for i in $(seq 9 18); do on_off+=" sub${i}_on:0 sub${i}_off:0"; done
printf '%s ' "$on_off" >"$work/on_off.txt"
to_tw_size=$((16 + $(stat -c %s "$work/to_tw.txt")))
on_off_size=$((17 + $(stat -c %s "$work/on_off.txt")))

# id | what the server is asked | the baseline's request of the same size | class
scenarios=(
  "unknown|--get no_such_command --expect -1|--get -1 --expect -1|fast"
  "To_Tw_1|--get IFC_get_To_Tw_1 --expect 13|--get 13 --expect 13|fast"
  "stat|--get IFC_get_stat --expect 25|--get 25 --expect 25|fast"
  "select_item|--get IFC_get_select_item --expect 189|--get 189 --expect 189|fast"
  "on_off_1|--get IFC_get_on_off_1 --expect 554|--get 554 --expect 554|fast"
  "hist_cntdatL|--get IFC_get_hist_cntdatL --expect 144|--get 144 --expect 144|fast"
  "PUT_to_tw_1|--put IFC_set_to_tw_1 --text-file $work/to_tw.txt|--put x --size $to_tw_size|medium"
  "PUT_on_off_1|--put IFC_set_on_off_1 --text-file $work/on_off.txt|--put x --size $on_off_size|slow"
  "PUT_log_256k|--put append_log --size 256000|--put x --size 256000|slow"
)
# IFCSIM_BENCH_ONLY="stat PUT_to_tw_1" runs only the scenarios named (ids above);
# "pages" names the console's pages, "journal" the journal on/off runs;
# "client", "readings" and "faults" their sections below.
pages=(overview targets valves selection histograms measurements letoff)
all_scenarios=("${scenarios[@]}")
journal_ids=" stat on_off_1 PUT_to_tw_1 PUT_on_off_1 "
if [[ -n ${IFCSIM_BENCH_ONLY:-} ]]; then
  [[ " $IFCSIM_BENCH_ONLY " == *" journal "* ]] || journal_ids=""
  [[ " $IFCSIM_BENCH_ONLY " == *" pages "* ]] || pages=()
  chosen=()
  for s in "${scenarios[@]}"; do
    [[ " $IFCSIM_BENCH_ONLY " == *" ${s%%|*} "* ]] && chosen+=("$s")
  done
  scenarios=("${chosen[@]}")
fi
describe() {
  case $1 in
    unknown) echo "GET unknown name" ;;
    To_Tw_1) echo "GET IFC_get_To_Tw_1" ;;
    stat) echo "GET IFC_get_stat" ;;
    select_item) echo "GET IFC_get_select_item" ;;
    on_off_1) echo "GET IFC_get_on_off_1" ;;
    hist_cntdatL) echo "GET IFC_get_hist_cntdatL" ;;
    PUT_to_tw_1) echo "PUT IFC_set_to_tw_1" ;;
    PUT_on_off_1) echo "PUT IFC_set_on_off_1 x45" ;;
    PUT_log_256k) echo "PUT append_log 256000 B" ;;
  esac
}
# Samples, time cap (s), warm-up and chunks per run, by class and
# concurrency. Above the backlog (c=16) the kernel drops connections and
# clients wait for their SYN to be sent again, 1 s and more: those runs, and
# the slow scenarios, are capped by time.
budget() { # class conc -> "n T w k"
  if ((full)); then echo "10000 0 50 10"; return; fi
  case "$1/$2" in
    fast/16) echo "10000 4 50 4" ;;
    fast/*) echo "10000 8 200 10" ;;
    medium/*) echo "10000 5 20 5" ;;
    slow/*) echo "1000 5 2 3" ;;
  esac
}
# The journal on/off runs, at c=1: more rounds than above, as only the ratio
# of the two servers counts.
journal_budget() {
  if ((full)); then echo "10000 0 50 20"; return; fi
  case "$1" in
    fast) echo "20000 10 200 20" ;;
    medium) echo "10000 10 20 20" ;;
    slow) echo "2000 20 2 20" ;;
  esac
}
# Requests per scenario for the warm-up and under strace.
few() { [[ $1 == slow ]] && echo 3 || echo 20; }
traced() { case $1 in slow) echo 5 ;; medium) echo 50 ;; *) echo 200 ;; esac }
allocs() { od -An -tu8 "$work/allocs" | tr -d ' '; }
# Connections the kernel dropped because a listen queue was full (this
# network namespace, both servers).
overflows() {
  awk '/^TcpExt:/ { if (!h) { for (i = 1; i <= NF; i++) if ($i == "ListenOverflows") c = i; h = 1 }
                    else print $c }' /proc/net/netstat
}

lg() { "$bin/ifcsim_loadgen" "$@"; }

say "server port $sport, baseline port $bport, working directory $work"
say "warm-up: every scenario once, so first-use allocations (stdio, time zone) are behind us"
for s in "${scenarios[@]}"; do
  IFS='|' read -r id sargs bargs class <<<"$s"
  # shellcheck disable=SC2086
  lg -c 1 -n "$(few "$class")" -w 0 --tag "warm" --target server "$sport" $sargs --target base "$bport" $bargs \
    --target journal "$jport" $sargs >>"$work/warm.log" || true
done

: >"$work/results.csv"
: >"$work/runs.log"
: >"$work/allocs.csv"
total=$((${#scenarios[@]} * 3))
k=0
for s in "${scenarios[@]}"; do
  IFS='|' read -r id sargs bargs class <<<"$s"
  for c in 1 4 16; do
    k=$((k + 1))
    read -r n cap w chunks <<<"$(budget "$class" "$c")"
    say "[$k/$total] $id c=$c"
    : >"$work/server/cgi.log"  # the 256000-byte PUT would fill the disk otherwise
    a0=$(allocs)
    o0=$(overflows)
    # shellcheck disable=SC2086
    lg -c "$c" -n "$n" -w "$w" -T "$cap" -k "$chunks" --tag "$id" --target server "$sport" $sargs \
      --target base "$bport" $bargs >"$work/run.out" || true
    a1=$(allocs)
    o1=$(overflows)
    cat "$work/run.out" >>"$work/runs.log"
    grep -E '^(CSV|RATIO),' "$work/run.out" >>"$work/results.csv" || true
    served=$(awk -F, '$3=="server"{print $8}' "$work/run.out" | head -1)
    echo "$id,$c,$((a1 - a0)),$((served + w)),$((o1 - o0))" >>"$work/allocs.csv"
  done
done

# The same server with the journal on and off, side by side: ratio = on/off.
: >"$work/journal.csv"
for s in "${all_scenarios[@]}"; do
  IFS='|' read -r id sargs bargs class <<<"$s"
  [[ $journal_ids == *" $id "* ]] || continue
  read -r n cap w chunks <<<"$(journal_budget "$class")"
  say "journal on/off: $id c=1"
  # shellcheck disable=SC2086
  lg -c 1 -n "$n" -w "$w" -T "$cap" -k "$chunks" --tag "$id" --target on "$jport" $sargs \
    --target off "$sport" $sargs >"$work/journal.out" || true
  cat "$work/journal.out" >>"$work/runs.log"
  grep -E '^(CSV|RATIO),' "$work/journal.out" >>"$work/journal.csv" || true
done

# The support library's client (ifc_get, what CGI programs call) in a loop
# against the baseline, beside the generator's own client on the same
# server: ratio = lib/own. IFCSIM_BENCH_ONLY=client runs only these.
: >"$work/client.csv"
if [[ -z ${IFCSIM_BENCH_ONLY:-} || " $IFCSIM_BENCH_ONLY " == *" client "* ]]; then
  for bytes in 25 554; do
    for c in 1 4; do
      say "client ifc_get ${bytes} B c=$c"
      lg -c "$c" -n 20000 -w 200 -k 40 --tag "client_$bytes" \
        --target lib "$bport" --get "$bytes" --expect "$bytes" --lib \
        --target own "$bport" --get "$bytes" --expect "$bytes" >"$work/client.out" || true
      cat "$work/client.out" >>"$work/runs.log"
      grep -E '^(CSV|RATIO),' "$work/client.out" >>"$work/client.csv" || true
    done
  done
fi

# IFC_get_hist_cntdatL from the server with the readings file beside the
# simulated one: ratio = readings/simulated. IFCSIM_BENCH_ONLY=readings runs
# only these.
: >"$work/readings.csv"
if [[ -z ${IFCSIM_BENCH_ONLY:-} || " $IFCSIM_BENCH_ONLY " == *" readings "* ]]; then
  lg -c 1 -n 20 -w 0 --tag warm --target readings "$rport" --get IFC_get_hist_cntdatL \
    >>"$work/warm.log" || true
  ra0=$(od -An -tu8 "$work/readings.allocs" | tr -d ' ')
  for c in 1 4; do
    say "readings: IFC_get_hist_cntdatL c=$c"
    lg -c "$c" -n 60000 -w 500 -k 30 --tag "readings" \
      --target readings "$rport" --get IFC_get_hist_cntdatL \
      --target simulated "$sport" --get IFC_get_hist_cntdatL --expect 144 >"$work/readings.out" || true
    cat "$work/readings.out" >>"$work/runs.log"
    grep -E '^(CSV|RATIO),' "$work/readings.out" >>"$work/readings.csv" || true
  done
  echo "ALLOCS,$(($(od -An -tu8 "$work/readings.allocs" | tr -d ' ') - ra0))" >>"$work/readings.csv"
  (cd "$work/readings" && "$bin/ifcsim_readings_bench" "$work/readings.txt") >>"$work/readings.csv"
fi

# IFC_get_stat from the server with --faults beside the one without, at c=1:
# ratio = faults/plain. IFCSIM_BENCH_ONLY=faults runs only these.
: >"$work/faults.csv"
if [[ -z ${IFCSIM_BENCH_ONLY:-} || " $IFCSIM_BENCH_ONLY " == *" faults "* ]]; then
  say "faults: IFC_get_stat c=1, --faults beside none"
  lg -c 1 -n 100000 -w 500 -k 50 --tag faults --target faults "$fport" --get IFC_get_stat \
    --expect 25 --target plain "$sport" --get IFC_get_stat --expect 25 >"$work/faults.out" || true
  cat "$work/faults.out" >>"$work/runs.log"
  grep -E '^(CSV|RATIO),' "$work/faults.out" >>"$work/faults.csv" || true
fi

say "system calls per request (strace -c -f, attached to the server)"
: >"$work/syscalls.csv"
traced_runs=()
for s in "${scenarios[@]}"; do traced_runs+=("$s|$server_pid|$sport|"); done
# The journal's own calls, on the server that writes it.
for s in "${all_scenarios[@]}"; do
  [[ $journal_ids == *" ${s%%|*} "* ]] && traced_runs+=("$s|$server_j_pid|$jport|+journal")
done
# IFC_get_stat on the server with --faults.
[[ -s $work/faults.csv ]] &&
  traced_runs+=("stat+faults|--get IFC_get_stat||fast|$faults_pid|$fport|")
# The histogram on the server with readings.
[[ -s $work/readings.csv ]] &&
  traced_runs+=("hist+readings|--get IFC_get_hist_cntdatL||fast|$readings_pid|$rport|")
for r in "${traced_runs[@]}"; do
  IFS='|' read -r id sargs bargs class pid port suffix <<<"$r"
  m=$(traced "$class")
  id=$id$suffix
  strace -f -c -U name,calls -S calls -o "$work/strace.$id" -p "$pid" 2>/dev/null &
  st=$!
  for _ in $(seq 100); do
    grep -q '^TracerPid:[[:space:]]*[1-9]' "/proc/$pid/status" && break
    sleep 0.02
  done
  # shellcheck disable=SC2086
  lg -c 1 -n "$m" -w 0 --tag strace --target server "$port" $sargs >/dev/null || true
  kill -INT "$st"
  wait "$st" || true
  awk -v id="$id" -v m="$m" '
    $1 == "total" { total = $2 }
    NF == 2 && $2 ~ /^[0-9]+$/ && $1 != "total" { detail = detail sprintf(" %s %.1f", $1, $2 / m) }
    END { printf "%s,%.1f,%s\n", id, total / m, detail }' "$work/strace.$id" >>"$work/syscalls.csv"
done

say "set-file load and save"
(cd "$work/setfile" && "$bin/ifcsim_setfile_bench" 20000 100) >"$work/setfile.out"
(cd "$work/setfile" && "$bin/ifcsim_journal_bench" 20000) >>"$work/setfile.out"

# The console's pages: each fetched through lighttpd (ifcsim-console in front
# of the same server), its program run directly, and its GETs alone, side by
# side in alternating rounds (ifcsim_page_bench).
: >"$work/pages.csv"
if ((${#pages[@]})) && ! command -v lighttpd >/dev/null && [[ ! -x /usr/sbin/lighttpd ]]; then
  say "console pages skipped: lighttpd is not installed"
  pages=()
fi
if ((${#pages[@]})); then
  say "console pages: through lighttpd, run directly, their GETs alone"
  "$build/src/console/ifcsim-console" --http-port 0 --controller "127.0.0.1:$sport" \
    >"$work/console.out" 2>"$work/console.err" &
  pids+=("$!")
  for _ in $(seq 200); do
    grep -q 'console at http' "$work/console.out" && break
    sleep 0.05
  done
  hport=$(sed -n 's|.*console at http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/console.out")
  [[ -n $hport ]] || { cat "$work/console.err" >&2; echo "bench: ifcsim-console did not start" >&2; exit 1; }
  cgi=$build/src/console/cgi-bin
  page_args=()
  for page in "${pages[@]}"; do
    # The page's requests, as the server prints them: run it once directly.
    at=$(stat -c %s "$work/server.out")
    (cd "$cgi" && env -i REQUEST_METHOD=GET QUERY_STRING= GATEWAY_INTERFACE=CGI/1.1 \
      HTTP_HOST="127.0.0.1:$hport" IFCSIM_HOST=127.0.0.1 IFCSIM_PORT="$sport" \
      "./$page.cgi" >/dev/null)
    names=$(tail -c +$((at + 1)) "$work/server.out" | { grep -o 'connected\.\.\. GET[^ ]*' || true; } |
      sed 's/.*GET//')
    echo "GETS,$page,$(wc -w <<<"$names")" >>"$work/pages.csv"
    gets=$(paste -sd, - <<<"$names")
    page_args+=("$page:$gets")
  done
  "$bin/ifcsim_page_bench" --http "$hport" --server-port "$sport" --cgi-dir "$cgi" \
    -n "$( ((full)) && echo 2000 || echo 500)" -k 25 "${page_args[@]}" >>"$work/pages.csv" || true
fi

hwm=$(awk '/^VmHWM/{print $2, $3}' "/proc/$server_pid/status")
rss=$(awk '/^VmRSS/{print $2, $3}' "/proc/$server_pid/status")
bhwm=$(awk '/^VmHWM/{print $2, $3}' "/proc/${pids[1]}/status")
served_total=$(grep -c 'connected' "$work/server.out" || true)

# ---- the report ----------------------------------------------------------
cxx=$(awk -F= '/^CMAKE_CXX_COMPILER:/{print $2}' "$build/CMakeCache.txt")
flags=$(awk -F= '/^CMAKE_CXX_FLAGS:/{f=$2} /^CMAKE_CXX_FLAGS_RELEASE:/{r=$2} END{print f, r}' \
  "$build/CMakeCache.txt")
echo "ifcsim benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), took ${SECONDS} s$( ((full)) && echo ', --full')"
echo "commit     $(git -C "$root" describe --always --dirty --abbrev=10) ($(git -C "$root" log -1 --format=%s | cut -c1-60))"
echo "compiler   $("$cxx" --version | head -1); flags:$flags -std=c++20 -Wall -Wextra -Wshadow"
echo "cpu        $(awk -F': ' '/^model name/{print $2; exit}' /proc/cpuinfo), $(nproc) cores; load average at end $(cut -d' ' -f1-3 /proc/loadavg)"
echo "kernel     $(uname -srm)"
echo "work dir   $(findmnt -no FSTYPE,SOURCE,OPTIONS -T "$work" | awk '{print $1, "on", $2, "(" $3 ")"}')"
echo
echo "Rates in requests/s over loopback, one connection per request; latency of the whole"
echo "transaction (connect to the server's close) in microseconds. base = protocol-only"
echo "baseline with a reply or payload of the same size, measured alternately with the"
echo "server in rounds; ratio = median over the rounds of server/base rate (its range"
echo "beside it). allocs = heap allocations per request in the server (after warm-up);"
echo "calls = system calls per request in the server. n = server samples (the baseline"
echo "gets as many or more); runs above the backlog (c=16) and slow PUTs are time-capped."
echo "drops = connections the kernel dropped in the run because a listen queue (backlog 5)"
echo "was full; each such client waits 1 s or more for its SYN to be sent again."
echo
awk -F, -v allocs="$work/allocs.csv" -v calls="$work/syscalls.csv" -v names="$(for s in "${scenarios[@]}"; do id=${s%%|*}; printf '%s=%s;' "$id" "$(describe "$id")"; done)" '
  BEGIN {
    n = split(names, kv, ";")
    for (i = 1; i <= n; i++) if (split(kv[i], p, "=") == 2) desc[p[1]] = p[2]
    while ((getline line < allocs) > 0) {
      split(line, a, ","); alloc[a[1] "," a[2]] = a[4] ? sprintf("%.2f", a[3] / a[4]) : "-"
      drops[a[1] "," a[2]] = a[5]
    }
    while ((getline line < calls) > 0) { split(line, a, ","); call[a[1]] = a[2] }
    printf "%-25s %6s %2s %5s %3s %8s %8s %5s %11s %7s %7s %7s %8s %8s %7s %7s %6s %6s %5s\n",
      "scenario", "bytes", "c", "n", "err", "server/s", "base/s", "ratio", "(rounds)",
      "p50", "p95", "p99", "p99.9", "max", "base50", "base99", "drops", "allocs", "calls"
  }
  $1 == "CSV" {
    key = $2 "," $7
    if ($3 == "server") { srv[key] = $0; order[++rows] = key } else base[key] = $0
  }
  $1 == "RATIO" { key = $2 "," $5; ratio[key] = $6; range[key] = sprintf("%.2f-%.2f", $7, $8) }
  END {
    for (r = 1; r <= rows; r++) {
      key = order[r]
      split(srv[key], s, ","); split(base[key], b, ",")
      printf "%-25s %6s %2s %5s %3s %8.0f %8.0f %5.2f %11s %7.0f %7.0f %7.0f %8.0f %8.0f %7.0f %7.0f %6s %6s %5s\n",
        desc[s[2]], s[6], s[7], s[8], s[9] + b[9], s[10], b[10], ratio[key], range[key],
        s[12], s[13], s[14], s[15], s[16], b[12], b[14], drops[key], alloc[key],
        (s[7] == 1 ? call[s[2]] : "")
    }
  }' "$work/results.csv"
if [[ -s $work/journal.csv ]]; then
  echo
  echo "Traffic journal: the same server with the journal on and off, side by side in"
  echo "alternating rounds at c=1; ratio = median over the rounds of on/off rate (its"
  echo "range beside it); cost = 1 - ratio. Latencies in microseconds."
  awk -F, '
    BEGIN { printf "  %-14s %5s %8s %8s %5s %11s %6s %7s %7s %7s %7s %4s\n", "scenario", "n",
            "on/s", "off/s", "ratio", "(rounds)", "cost", "on50", "off50", "on99", "off99", "err" }
    $1 == "CSV" { if ($3 == "on") on[$2] = $0; else { off[$2] = $0; order[++n] = $2 } }
    $1 == "RATIO" { ratio[$2] = $6; range[$2] = sprintf("%.2f-%.2f", $7, $8) }
    END {
      for (r = 1; r <= n; r++) {
        k = order[r]; split(on[k], a, ","); split(off[k], b, ",")
        printf "  %-14s %5s %8.0f %8.0f %5.2f %11s %5.1f%% %7.0f %7.0f %7.0f %7.0f %4d\n", k, a[8],
          a[10], b[10], ratio[k], range[k], 100 * (1 - ratio[k]), a[12], b[12], a[14], b[14],
          a[9] + b[9]
      }
    }' "$work/journal.csv"
  echo "  journal written: $(wc -l <"$work/journal.jsonl") lines, $(stat -c %s "$work/journal.jsonl") bytes"
fi
if [[ -s $work/client.csv ]]; then
  echo
  echo "Client: ifc_get of the support library in a loop against the baseline, beside the"
  echo "load generator's own client on the same server (which also waits for the close);"
  echo "ratio = median over the rounds of lib/own rate. At 0.95 or more the client is not"
  echo "what limits a page."
  awk -F, '
    BEGIN { printf "  %6s %2s %8s %8s %5s %11s %7s %7s %4s\n", "bytes", "c", "lib/s", "own/s",
            "ratio", "(rounds)", "lib50", "own50", "err" }
    $1 == "CSV" { key = $2 "," $7; if ($3 == "lib") lib[key] = $0; else { own[key] = $0; order[++n] = key } }
    $1 == "RATIO" { key = $2 "," $5; ratio[key] = $6; range[key] = sprintf("%.2f-%.2f", $7, $8) }
    END {
      for (r = 1; r <= n; r++) {
        key = order[r]; split(lib[key], l, ","); split(own[key], o, ",")
        printf "  %6s %2s %8.0f %8.0f %5.2f %11s %7.0f %7.0f %4d %s\n", l[6], l[7], l[10], o[10],
          ratio[key], range[key], l[12], o[12], l[9] + o[9], (ratio[key] >= 0.95 ? "" : "BELOW 0.95")
      }
    }' "$work/client.csv"
fi
if [[ -s $work/readings.csv ]]; then
  echo
  echo "Readings: IFC_get_hist_cntdatL with a readings file in place (the ready-made \"ramp\","
  echo "20 frames, the next at each request) beside the simulated server; ratio = median over"
  echo "the rounds of readings/simulated rate. Within 5 % means 0.95 or more."
  awk -F, '
    BEGIN { printf "  %2s %10s %10s %5s %11s %7s %7s %4s\n", "c", "readings/s", "simul./s",
            "ratio", "(rounds)", "read50", "sim50", "err" }
    $1 == "CSV" { key = $2 "," $7; if ($3 == "readings") r[key] = $0; else { s[key] = $0; order[++n] = key } }
    $1 == "RATIO" { key = $2 "," $5; ratio[key] = $6; range[key] = sprintf("%.2f-%.2f", $7, $8) }
    $1 == "ALLOCS" { allocs = $2 }
    $1 == "HANDLER" { handler[$2] = $3 }
    END {
      for (i = 1; i <= n; i++) {
        key = order[i]; split(r[key], a, ","); split(s[key], b, ",")
        printf "  %2s %10.0f %10.0f %5.2f %11s %7.0f %7.0f %4d %s\n", a[7], a[10], b[10], ratio[key],
          range[key], a[12], b[12], a[9] + b[9], (ratio[key] >= 0.95 ? "" : "BELOW 0.95")
      }
      printf "  heap allocations in the readings server after its warm-up: %d\n", allocs
      printf "  the handler alone (best of 40 blocks): simulated %.2f us, readings file missing %.2f us,\n",
        handler["simulated"], handler["missing"]
      printf "  with \"ramp\" %.2f us\n", handler["readings"]
    }' "$work/readings.csv"
  [[ -s $work/readings.err ]] && { echo "  readings server's standard error:"; sed 's/^/    /' "$work/readings.err" | head -3; }
fi
if [[ -s $work/faults.csv ]]; then
  echo
  echo "Fault rules: IFC_get_stat from the server with --faults (a rules file in place and"
  echo "unchanged, no rule acting) beside the same server without, side by side in"
  echo "alternating rounds at c=1; ratio = median over the rounds of faults/plain rate."
  echo "Within 3 % means 0.97 or more."
  awk -F, '
    BEGIN { printf "  %2s %10s %10s %5s %11s %7s %7s %7s %7s %4s\n", "c", "faults/s", "plain/s",
            "ratio", "(rounds)", "f50", "p50", "f99", "p99", "err" }
    $1 == "CSV" { key = $2 "," $7; if ($3 == "faults") f[key] = $0; else { p[key] = $0; order[++n] = key } }
    $1 == "RATIO" { key = $2 "," $5; ratio[key] = $6; range[key] = sprintf("%.2f-%.2f", $7, $8) }
    END {
      for (i = 1; i <= n; i++) {
        key = order[i]; split(f[key], a, ","); split(p[key], b, ",")
        printf "  %2s %10.0f %10.0f %5.3f %11s %7.0f %7.0f %7.0f %7.0f %4d %s\n", a[7], a[10], b[10],
          ratio[key], range[key], a[12], b[12], a[14], b[14], a[9] + b[9],
          (ratio[key] >= 0.97 ? "" : "BELOW 0.97")
      }
    }' "$work/faults.csv"
  [[ -s $work/faults.err ]] && { echo "  faults server's standard error:"; sed 's/^/    /' "$work/faults.err" | head -3; }
fi
echo
echo "System calls per request in the server, by name (strace -c -f):"
awk -F, '{ printf "  %-14s %6s:%s\n", $1, $2, $3 }' "$work/syscalls.csv"
echo
echo "Set-file load and save (hfp_load_data2 / hfp_save_data2, same filesystem), and one"
echo "traffic journal entry (journal_write: format, check the path, append):"
grep -v '^CSV' "$work/setfile.out" | sed 's/^setfile/ /'

if [[ -s $work/pages.csv ]]; then
  echo
  echo "Console pages (GET; microseconds; n samples each way, in alternating rounds):"
  echo "page = through lighttpd, connect to last byte; direct = the CGI program run directly"
  echo "(spawn to exit, all output read); GETs = the page's protocol requests alone, sent"
  echo "back to back straight to the server. web server = page - direct; start+work ="
  echo "direct - GETs: the program's start and its own work (parsing, HTML); both the"
  echo "median over the rounds of the difference of the round medians."
  awk -F, '
    $1 == "GETS" { gets[$2] = $3; order[++n] = $2 }
    $1 == "COST" { web[$2] = $3; work[$2] = $4 }
    $1 == "PAGE" { p50[$2 "," $3] = $8; p95[$2 "," $3] = $9; err[$2] += $5
                   if ($3 == "http") { hn[$2] = $4; bytes[$2] = $6 } }
    END {
      printf "  %-17s %4s %6s %5s %8s %8s %8s %8s %8s %10s %10s %4s\n", "page", "GETs", "bytes",
        "n", "page50", "page95", "direct50", "GETs50", "GETs95", "web server", "start+work", "err"
      for (i = 1; i <= n; i++) {
        p = order[i]
        printf "  %-17s %4d %6d %5d %8.0f %8.0f %8.0f %8.0f %8.0f %10.0f %10.0f %4d\n", p ".cgi",
          gets[p], bytes[p], hn[p], p50[p ",http"], p95[p ",http"], p50[p ",direct"],
          p50[p ",gets"], p95[p ",gets"], web[p], work[p], err[p]
      }
      printf "  starting a program that does nothing (/bin/true, spawned): p50 %.0f, p95 %.0f\n",
        p50["-,true"], p95["-,true"]
    }' "$work/pages.csv"
fi
echo
echo "Server memory after $served_total requests: VmHWM $hwm, VmRSS $rss (baseline VmHWM $bhwm);"
echo "its standard output (to a file) grew to $(stat -c %s "$work/server.out") bytes."
if [[ -s $work/server.err ]]; then
  echo "Server standard error:"
  sed 's/^/  /' "$work/server.err" | head -5
fi
# The raw material stays for a second look: one CSV line per target and run
# (with the average), the loadgen's own lines, the strace summaries.
keep=$build/bench-results
rm -rf "$keep" && mkdir -p "$keep"
cp "$work"/{results.csv,allocs.csv,syscalls.csv,client.csv,journal.csv,readings.csv,faults.csv,runs.log,setfile.out,pages.csv} "$keep/"
cp "$work"/strace.* "$keep/" 2>/dev/null || true
echo "Raw results: $keep"
errs=$(cat "$work/results.csv" "$work/client.csv" "$work/journal.csv" "$work/readings.csv" "$work/faults.csv" |
  awk -F, '$1=="CSV"{e+=$9} END{print e+0}')
errs=$((errs + $(awk -F, '$1=="PAGE"{e+=$5} END{print e+0}' "$work/pages.csv")))
if ((errs > 0)); then
  echo "ERRORS: $errs failed exchanges; first errors:"
  grep 'first error' "$work/runs.log" | head -5
  exit 1
fi
