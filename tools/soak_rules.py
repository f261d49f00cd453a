"""The rules by which scripts/soak judges a long run from the samples the program writes once a
virtual minute (app/SoakSampler.cpp: one CSV row with the process's memory, the size of every list
and map it keeps, the records older than their rules allow, the park airport and the half-hours of
stand use its stand table knows, the log's size and the loop's lateness).

Each check appends lines to a table and failures to a list; tools/soak_rules_test.py tries them
on recorded samples. Standard library only."""

import math

# The lists and maps the program keeps, as the sampler names its columns.
SIZE_COLUMNS = ["live", "static", "adding_stack", "live_adding", "static_adding", "removal", "activation",
                "blocked_ghosts", "twin_check", "no_match", "chosen_liveries", "not_created", "stands",
                "static_positions", "live_parked", "recent_callsigns", "recent_hex_ids", "park_airports",
                "livery_table", "regcode_liveries", "sim_objects", "notifications", "direct_requests"]
# Lists the program holds to a limit of its own: 20 titles the simulator could not create end
# the session (error 81); MAX_LIVE_SEL (100 by default) live aircraft at most. A list's growth
# slack lies well below its limit, or the limit would be reached before the growth were seen.
LIST_LIMITS = {"not_created": 20, "live": 100}
GROWTH_SLACK = 10
# The first hour fills the tables, the learned files and the caches: growth is judged after it.
WARM_UP_S = 3600
MEMORY_GROWTH_LIMIT = 0.05
LOG_BYTES_PER_DAY = 50 * 1000 * 1000


def growth_slack(column):
    """Entries a list may lie higher late in a run than early in it without counting as growth."""
    return min(GROWTH_SLACK, LIST_LIMITS.get(column, 4 * GROWTH_SLACK) // 4)


def level_rise(times, values, warm_up=WARM_UP_S):
    """How far a list's level rose across a run: its lowest size in the last quarter after the
    warm-up less its highest size in the first quarter. A queue that fills and drains with the
    frames, or a list that follows the traffic, comes back down in every quarter, however full
    one sample finds it; a leak lifts the whole level. None when the run is too short to judge."""
    after = [(t, v) for t, v in zip(times, values) if t - times[0] >= warm_up]
    if len(after) < 8:
        return None
    span = after[-1][0] - after[0][0]
    early = [v for t, v in after if t - after[0][0] <= span / 4]
    late = [v for t, v in after if after[-1][0] - t <= span / 4]
    return min(late) - max(early), max(early), min(late)


def segments(rows):
    """The samples of each run of the program (the time goes on, the memory starts anew)."""
    runs, current = [], []
    for row in rows:
        if current and row["pid"] != current[-1]["pid"]:
            runs.append(current)
            current = []
        current.append(row)
    if current:
        runs.append(current)
    return runs


def check_lists(run, label, table, failures):
    """Every list of one run: its largest and last size, and whether its level rose."""
    times = [int(r["time"]) for r in run]
    for column in SIZE_COLUMNS:
        values = [int(r[column]) for r in run]
        rise = level_rise(times, values)
        slack = growth_slack(column)
        text = f"max {max(values)}, last {values[-1]}"
        if rise is not None:
            text += f"; first quarter at most {rise[1]}, last quarter at least {rise[2]} (slack {slack})"
            if rise[0] > slack:
                failures.append(f"{label}: {column} grows without bound: at least {rise[2]} through the last "
                                f"quarter of the run, at most {rise[1]} through the first")
        table.append((f"{label}: {column}", text))


def check_memory(run, label, table, failures):
    t0 = int(run[0]["time"])
    after = [r for r in run if int(r["time"]) - t0 >= WARM_UP_S]
    if len(after) < 2:
        return
    base = int(after[0]["rss_kb"])
    top = max(int(r["rss_kb"]) for r in after)
    growth = (top - base) / base
    table.append((f"{label}: memory after 1 h", f"{base / 1024:.1f} MB -> at most {top / 1024:.1f} MB "
                  f"({growth * 100:+.1f}%)"))
    if growth > MEMORY_GROWTH_LIMIT:
        failures.append(f"{label}: memory grew {growth * 100:.1f}% after its first hour "
                        f"(limit {MEMORY_GROWTH_LIMIT * 100:.0f}%)")


def visits(rows):
    """The visits of park airports: [code, first row, last row] of each stretch of samples of one
    process with one loaded park airport."""
    found = []
    previous = None
    for row in rows:
        code = row["park"]
        if code and previous is not None and code == previous["park"] and row["pid"] == previous["pid"]:
            found[-1][2] = row
        elif code:
            found.append([code, row, row])
        previous = row
    return found


def check_learning(rows, table, failures):
    """At every visit of an airport the half-hours of stand use its stand table knows are read back
    at least as many as it held when the airport was last left; what a visit adds is learned."""
    by_airport = {}
    for code, first, last in visits(rows):
        by_airport.setdefault(code, []).append((int(first["known_half_hours"]), int(last["known_half_hours"]),
                                                int(first["time"])))
    start = int(rows[0]["time"]) if rows else 0
    for code, stays in sorted(by_airport.items()):
        learned = sum(max(0, end - begin) for begin, end, _ in stays)
        lost = []
        for (_, held, _), (read, _, at) in zip(stays, stays[1:]):
            if read < held:
                lost.append(f"{held - read} at minute {(at - start) // 60}")
        table.append((f"learned {code}", f"{len(stays)} visits, {learned} half-hours learned, read back at "
                      f"{len(stays) - 1} later visits, {stays[-1][1]} known at the last sample"))
        if lost:
            failures.append(f"learned {code}: half-hours lost between visits ({', '.join(lost)})")


def describe_files(files, table):
    """The learned files on disk at the end (what each visit read back is checked by visits)."""
    for code, (size, slots) in sorted(files.items()):
        table.append((f"learned file {code}", f"{size} bytes, {slots} half-hours in its options"))


def check_stuck(rows, table, failures):
    stuck = [r for r in rows if int(r["stuck"]) > 0]
    table.append(("records older than their rules", f"{len(stuck)} samples with any, at most "
                  f"{max((int(r['stuck']) for r in rows), default=0)}"))
    if stuck:
        failures.append(f"records stuck at {len(stuck)} samples, first at minute "
                        f"{(int(stuck[0]['time']) - int(rows[0]['time'])) // 60}")


def check_log(log_bytes, hours, table, failures):
    per_day = log_bytes / max(hours, 1e-9) * 24
    table.append(("Log.txt", f"{log_bytes} bytes in all runs, {per_day / 1e6:.1f} MB a day"))
    if per_day > LOG_BYTES_PER_DAY:
        failures.append(f"the log grows {per_day / 1e6:.1f} MB a day (limit {LOG_BYTES_PER_DAY / 1e6:.0f} MB)")


def inject_leak(rows, column, per_minute=1):
    """Adds PER_MINUTE entries per virtual minute since the first sample to COLUMN of every row: a
    list that leaks, laid over a real run's samples, to show that the rules catch it."""
    start = int(rows[0]["time"])
    for row in rows:
        row[column] = str(int(row[column]) + per_minute * ((int(row["time"]) - start) // 60))


def half_hours_of(text):
    """The number of half-hour slots of a learned option's "hh" text ("10:20", "1,3:5")."""
    slots = set()
    for item in (text or "").split(","):
        item = item.strip()
        if ":" in item:
            first, last = item.split(":", 1)
            if first.isdigit() and last.isdigit():
                slots.update(range(int(first), int(last) + 1))
        elif item.isdigit():
            slots.add(int(item))
    return len(slots)


def percentile_text(p50, p99, longest, speed):
    """Lateness figures of a loop run SPEED times faster than real time, in the program's time and
    in real time."""
    def real(us):
        return us / speed if speed else math.nan
    return (f"p50 {p50} us, p99 {p99} us, at most {longest} us of the program's time "
            f"(at {speed:g}x: p99 {real(p99):.0f} us of real time)")
