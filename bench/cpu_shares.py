#!/usr/bin/env python3
"""Shares of a live sweep's CPU by what it was spent on, from a `perf record
-g` file (bench/live_cpu.sh --perf FILE): each sample of qarvik, of the
wincmd launcher, of the resident interpreter (wincmd-tools outside a command)
or of a command's process (wincmd-tools) goes to the first category, in the
order listed, that any frame of its call chain matches (a page fault inside
the loader is the loader's).

    bench/cpu_shares.py FILE [ADDRESSES CPU_SECONDS]

With the sweep's addresses and CPU seconds it prints milliseconds per
address beside each share."""
import subprocess
import sys

# (category, test on a frame's symbol and shared object), in order.
CATEGORIES = [
    ("glibc start-up: CPU features and caches (cpuid)",
     lambda s, d: s.startswith(("init_cpu_features", "intel_check_word", "handle_intel",
                                "get_common_cache_info", "update_active", "get_common_indices",
                                "init_cacheinfo", "dl_init_cacheinfo", "__init_cpu_features",
                                "_dl_x86_init_cpu"))),
    ("dynamic loader: mapping, relocations, symbol look-up",
     lambda s, d: d.startswith("ld-linux") or s.startswith(("_dl_relocate_static_pie", "_dl_start"))),
    ("execve and the new image's page faults", lambda s, d: s in ("__x64_sys_execve", "asm_exc_page_fault")),
    ("process and thread creation (clone)", lambda s, d: s.startswith(("__x64_sys_clone", "__do_sys_clone", "ret_from_fork", "__x64_sys_vfork"))),
    ("process end (exit, unmapping)", lambda s, d: s.startswith(("__x64_sys_exit", "do_exit", "__x64_sys_munmap"))),
    ("memory mapping (mmap, mprotect, brk)", lambda s, d: s.startswith(("__x64_sys_mmap", "__x64_sys_mprotect", "__x64_sys_brk", "__x64_sys_madvise"))),
    # The segment's bridge, and the ARP requests as its hosts take them: the
    # kernel does that work as it sends, in the sender's time, though on a
    # real segment it is the switch's and the other machines'. Every scanner
    # on the namespace segment pays it (about all of nmap's CPU).
    ("the namespace segment's bridge and hosts (bridge, hosts' ARP)",
     lambda s, d: s.startswith(("br_handle_frame", "br_flood", "br_forward", "br_nf_", "arp_rcv",
                                "arp_process"))),
    ("sending and receiving (ICMP, UDP, ARP, netlink)",
     lambda s, d: s.startswith(("__x64_sys_sendto", "__x64_sys_sendmsg", "__x64_sys_recv", "__x64_sys_connect",
                                "__x64_sys_bind", "__x64_sys_socket", "__x64_sys_setsockopt",
                                "__x64_sys_getsockopt", "__x64_sys_getsockname", "__x64_sys_poll",
                                "__x64_sys_ppoll", "net_rx_action", "neigh_timer_handler", "__do_softirq",
                                "handle_softirqs"))),
    ("files: slot files, ledger, resolver's files (open, read, write, lock, close)",
     lambda s, d: s.startswith(("__x64_sys_openat", "__x64_sys_close", "__x64_sys_read", "__x64_sys_write",
                                "__x64_sys_pread", "__x64_sys_pwrite", "__x64_sys_flock", "__x64_sys_unlink",
                                "__x64_sys_readlink", "__x64_sys_newfstat", "__x64_sys_lseek",
                                "__x64_sys_ftruncate", "__x64_sys_access", "__x64_sys_statx",
                                "__x64_sys_fcntl", "__x64_sys_ioctl", "__x64_sys_getdents"))),
    ("scheduling, waiting, other system calls", lambda s, d: d == "[kernel.kallsyms]"),
]


def chains(path):
    text = subprocess.run(["perf", "script", "-i", path, "-F", "comm,ip,sym,dso"],
                          capture_output=True, text=True, check=True).stdout
    for block in text.split("\n\n"):
        lines = [line.strip() for line in block.strip().splitlines()]
        if not lines:
            continue
        comm = lines[0].split()[0]
        frames = []
        for line in lines[1:]:
            parts = line.split(None, 1)
            if len(parts) < 2:
                continue
            rest = parts[1]
            dso = rest[rest.rfind("(") + 1:rest.rfind(")")] if "(" in rest else ""
            sym = rest[:rest.rfind("(")].strip() if "(" in rest else rest
            sym = sym.split("+0x")[0]
            frames.append((sym, dso.rsplit("/", 1)[-1]))
        yield comm, frames


# The frames of a resident interpreter's command process, below the fork;
# the interpreter's own frames above them.
COMMAND_FRAMES = ("RunInChild", "RunWincmd")
INTERPRETER_FRAMES = ("Serve", "HandleEvent", "AcceptLaunchers", "TakeRequest", "EndCommand",
                      "StartResidentInterpreter")


def bare(sym):
    return sym.split("(anonymous namespace)::")[-1].split("(")[0]


def category(comm, frames):
    if comm == "qarvik":
        return "Qarvik's own process (spawns, collecting the reports)"
    names = [bare(sym) for sym, _ in frames]
    if comm == "wincmd":
        return "the launcher (wincmd): execve, connect, the request, waiting"
    if not any(name in COMMAND_FRAMES for name in names) and \
            any(name in INTERPRETER_FRAMES for name in names):
        return "the resident interpreter: accept, fork, reap, epoll"
    for name, test in CATEGORIES:
        if any(test(sym, dso) for sym, dso in frames):
            return name
    return "the tools' own code and the C library (user space)"


def main():
    counts = {}
    total = 0
    for comm, frames in chains(sys.argv[1]):
        if comm not in ("qarvik", "wincmd", "wincmd-tools"):
            continue
        name = category(comm, frames)
        counts[name] = counts.get(name, 0) + 1
        total += 1
    per_address = None
    if len(sys.argv) == 4:
        per_address = float(sys.argv[3]) * 1000 / int(sys.argv[2])
    for name, count in sorted(counts.items(), key=lambda item: -item[1]):
        share = count / total
        extra = f"  {share * per_address:.2f} ms/address" if per_address else ""
        print(f"{share * 100:5.1f} %  {name}{extra}")


main()
