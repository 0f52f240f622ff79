#!/usr/bin/env python3
"""Prints the benchmark table from Google Benchmark JSON files.

Each benchmark is named "<member>/member[/...]" or "<member>/floor_<kind>";
for every member row the median wall time over the repetitions is printed
beside the median of each floor of the same member, with their ratio. Rows
that ran with 1 and 2 threads are compared by throughput instead.
"""
import json
import re
import sys
from collections import OrderedDict


def fmt(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} us"
    return f"{ns:.0f} ns"


def load(paths):
    medians = OrderedDict()
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            name = b["run_name"]
            unit = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            medians[name] = {"time": b["real_time"] * unit,
                             "rate": b.get("items_per_second"),
                             "member_ns": b.get("member_ns"), "floor_ns": b.get("floor_ns")}
    return medians


def split(name):
    # "GetDeviceIds/member" -> ("GetDeviceIds", "member", "")
    m = re.match(r"^(.*?)/(member|floor_[a-z_]+)(.*)$", name)
    return (m.group(1), m.group(2), m.group(3)) if m else (name, "member", "")


def print_paired(paired):
    """Rows of member and floor timed in turns: the median over repetitions
    of each one's per-call median."""
    if not paired:
        return
    print()
    print("member and floor in turns, call by call (median of per-call medians):")
    for name, value in paired.items():
        label = name.replace("/paired", "").replace("/real_time", "") + " (paired)"
        member, floor = value["member_ns"], value["floor_ns"]
        print(f"{label:<62} | {fmt(member):>10} | {fmt(floor) + ' socket':>26} | {member / floor:6.2f}")


def main():
    medians = load(sys.argv[1:])
    paired = OrderedDict((n, v) for n, v in medians.items() if "/paired" in n and v["member_ns"] and v["floor_ns"])
    for name in paired:
        del medians[name]
    groups = OrderedDict()
    # Rows in the order the benchmarks are declared, not the interleaved run order.
    order = ["GetRegistryValue", "GetRegistryValue+writer", "ReadThroughput", "SetDeviceValue",
             "GetDeviceValues", "GetDeviceIds", "DeviceExists", "SetDisconnectionLoggingNeeded",
             "DllGetActivationFactory", "ActivateInstance"]
    def rank(item):
        group = split(item[0])[0]
        base = group.split("[")[0]
        return (order.index(base) if base in order else len(order), group, item[0])
    for name, value in sorted(medians.items(), key=rank):
        group, kind, rest = split(name)
        groups.setdefault(group, OrderedDict())[(kind, rest)] = value
    print(f"{'member':<62} | {'median':>10} | {'floor':>26} | {'ratio':>6}")
    print("-" * 114)
    for group, rows in groups.items():
        floors = [(k, v) for (k, rest), v in rows.items() if k != "member" and "threads" not in rest]
        for (kind, rest), value in rows.items():
            if kind != "member" or "threads" in rest:
                continue
            label = group + rest.replace("/real_time", "")
            if not floors:
                print(f"{label:<62} | {fmt(value['time']):>10} | {'-':>26} | {'-':>6}")
            for floor_kind, floor in floors:
                ratio = value["time"] / floor["time"]
                floor_text = f"{fmt(floor['time'])} {floor_kind[6:]}"
                print(f"{label:<62} | {fmt(value['time']):>10} | {floor_text:>26} | {ratio:6.2f}")
        # Throughput rows: two threads against one, for the member and its floor.
        for kind in sorted({k for (k, rest) in rows if "threads" in rest}):
            one = next((v for (k, r), v in rows.items() if k == kind and "threads:1" in r), None)
            two = next((v for (k, r), v in rows.items() if k == kind and "threads:2" in r), None)
            if one and two and one["rate"] and two["rate"]:
                label = f"{group} {kind}: 2 threads / 1 thread (ops/s)"
                print(f"{label:<62} | {two['rate'] / 1e3:>7.1f} k/s | {one['rate'] / 1e3:>20.1f} k/s 1 thr"
                      f" | {two['rate'] / one['rate']:6.2f}")
    print_paired(paired)
    # Per-handler cost of the event: (10 handlers - 0 handlers) / 10.
    print()
    for group in ("SetDisconnectionLoggingNeeded", "SetDisconnectionLoggingNeeded[no key]"):
        zero = medians.get(group + "/member/handlers/0")
        ten = medians.get(group + "/member/handlers/10")
        if zero and ten:
            print(f"{group} per handler ((10 - 0 handlers) / 10): {fmt((ten['time'] - zero['time']) / 10)}")


if __name__ == "__main__":
    main()
