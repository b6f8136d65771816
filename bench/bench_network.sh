# Sourced by the whole-run benchmarks: the generated office network they sweep.
#
# write_bench_network FILE LAST [TIMING]: hosts 1 to LAST of 10.20.0.0/16 (one
# in 16 up with a DNS name, one in 64 answering ARP only, one in 128 a silent
# host with a name), the own adapter 10.20.0.10, and a `timing TIMING` line
# first when TIMING is given and not empty.
write_bench_network() {
    {
        [[ -n ${3:-} ]] && echo "timing $3"
        echo "machine BENCHPC"
        echo "adapter 10.20.0.10 00-A0-C9-12-34-56"
        awk -v last="$2" 'BEGIN {
            for (k = 1; k <= last; k++) {
                address = sprintf("10.20.%d.%d", int(k / 256), k % 256)
                mac = sprintf("00-0C-29-00-%02X-%02X", int(k / 256), k % 256)
                if (k == 10) continue
                if (k % 16 == 5) print "host", address, mac, "pc-" k ".bench.example", "up"
                else if (k % 64 == 7) print "host", address, mac, "-", "arp-only"
                else if (k % 128 == 9) print "host", address, mac, "gone-" k ".bench.example", "down"
            }
        }'
    } > "$1"
}
