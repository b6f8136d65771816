#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets from the reports of the stand-in
# tools of every simulated Windows version: make_seeds.sh WINCMD OUT_DIR.
# Each target gets OUT_DIR/<target>/, in the input layout its source describes.
set -euo pipefail
wincmd=$1
out=$2
export LC_ALL=C
export QARVIK_NETWORK=$out/network.txt
mkdir -p "$out"
for target in command_line filter_lines adapter_blocks own_host other_hosts computer_names netbeui \
              wincmd_split wincmd_network kernel_answers netbios_packets; do
  mkdir -p "$out/fuzz_$target"
done

cat > "$QARVIK_NETWORK" <<'NET'
machine MYPC
adapter -            00-10-60-A3-B0-6D
adapter 192.168.1.10 00-A0-C9-12-34-56
adapter 0.0.0.0      00-A0-C9-65-43-21
host 192.168.1.1   00-0C-29-00-00-01 ROUTER       up
host 192.168.1.5   00-0C-29-00-00-05 PRINTER1     up
host 192.168.1.7   00-0C-29-AA-BB-CC PC-SALES1    up
host 192.168.1.33  00-A0-C9-33-33-33 -            up
host 192.168.1.40  00-0C-29-40-00-40 PC-LAPTOP    down
host 192.168.1.50  00-0C-29-50-00-50 -            arp-only
dns  192.168.1.60  OLD-SERVER
browse MYPC          00-A0-C9-12-34-56 Front desk
browse PC-SALES1     00-0C-29-AA-BB-CC Sales
browse A&B|C         00-0C-29-00-00-0A hostile
browse 営業部        00-0C-29-00-00-0B code page 932
NET
# The browse name above is UTF-8 in this script; the tools need code page 932.
iconv -f UTF-8 -t CP932 "$QARVIK_NETWORK" > "$QARVIK_NETWORK.932"
mv "$QARVIK_NETWORK.932" "$QARVIK_NETWORK"

byte() { printf "\\x$(printf %02x "$1")"; }
sep() { printf '\xff'; }
run() { "$wincmd" /c "$1" || true; }

# Labels of the adapter reports, as code page 932 bytes (own-host stage).
mac_label=( $'\x95\xa8\x97\x9d\xb1\xc4\xde\xda\xbd' $'\x95\xa8\x97\x9d\x83\x41\x83\x68\x83\x8c\x83\x58'
            Physical Physical Physical )
ip_label=( $'IP \xb1\xc4\xde\xda\xbd' $'IP \x83\x41\x83\x68\x83\x8c\x83\x58'
           'IP Address' 'IP Address' 'IP Address' )
versions=(95 98 nt4 2000 xp)
addresses=(192.168.1.1 192.168.1.5 192.168.1.7 192.168.1.10 192.168.1.33 192.168.1.40
           192.168.1.50 192.168.1.60 192.168.1.99)

for i in "${!versions[@]}"; do
  v=${versions[$i]}
  export QARVIK_WINVER=$v
  if [ "$i" -lt 2 ]; then report=$(run "winipcfg /all"); else report=$(run "ipconfig /all"); fi
  { byte "$i"; printf '%s\n' "$report"; } > "$out/fuzz_adapter_blocks/$v"
  { byte "$i"; grep -aF "${mac_label[$i]}" <<<"$report" || true; sep
    grep -aF "${ip_label[$i]}" <<<"$report" || true; } > "$out/fuzz_own_host/$v"

  pings=$(for a in "${addresses[@]}"; do run "ping -a -n 1 $a"; done)
  arps=$(for a in "${addresses[@]}"; do run "arp -a $a"; done)
  { byte 2; printf '%s\n' "$pings"; sep; printf '%s\n' "$arps"; } > "$out/fuzz_other_hosts/$v"
  { byte 9; byte 0; printf '%s\n' "$pings"; } > "$out/fuzz_computer_names/$v"
  { byte 7; printf Pinging; printf '%s\n' "$pings"; } > "$out/fuzz_filter_lines/$v-ping"
  { byte 7; printf dynamic; printf '%s\n' "$arps"; } > "$out/fuzz_filter_lines/$v-arp"

  column=1; [ "$v" = nt4 ] && column=0
  { byte "$column"; run "net view"; for name in MYPC PC-SALES1 NOBODY; do
      sep; run "nbtstat -a $name"; done; } > "$out/fuzz_netbeui/$v"
  { byte "$i"; cat "$QARVIK_NETWORK"; } > "$out/fuzz_wincmd_network/$v"
done

args() { local first=1; for a in "$@"; do [ $first = 1 ] || printf '\0'; printf '%s' "$a"; first=0; done; }
args /cC > "$out/fuzz_command_line/plain"
args /cN /o"dir with blank/out.txt" /w500 > "$out/fuzz_command_line/netbeui"
args /n192.168.1.0 /m255.255.255.0 /cB /w10000 > "$out/fuzz_command_line/all"
args /? > "$out/fuzz_command_line/help"
printf '%s' 'ping -a -n 1 -w 500 192.168.1.7 >> "/tmp/dir with blank/tmp03.txt"' \
  > "$out/fuzz_wincmd_split/ping"
printf '%s' 'nbtstat -a PC-SALES1 > /tmp/tmp09.txt' > "$out/fuzz_wincmd_split/nbtstat"
printf '%s' 'del "/tmp/a b/tmp04.txt">>x "q>"' > "$out/fuzz_wincmd_split/quotes"
# Kernel answers: the mode byte, the request (sequence 5 and port 77, or the
# address 198.18.0.3 with identifier 0x1234 and sequence 7), the datagram:
# a neighbour entry of 198.18.0.3 then the dump's end, an echo reply from a
# datagram socket, and one from a raw socket with its IP header.
{ printf '\0\0\0\0\x05\0\0\0\x4d'
  printf '\x30\0\0\0\x1c\0\x02\0\x05\0\0\0\x4d\0\0\0\x02\0\0\0\x02\0\0\0\x02\0\0\0'
  printf '\x08\0\x01\0\xc6\x12\0\x03\x0a\0\x02\0\x02\x18\0\0\0\x03\0\0'
  printf '\x14\0\0\0\x03\0\x02\0\x05\0\0\0\x4d\0\0\0\0\0\0\0'; } > "$out/fuzz_kernel_answers/dump"
echo_reply='\0\0\x91\xc4\x12\x34\0\x07abcdefgh'
{ printf '\x01\xc6\x12\0\x03\x12\x34\0\x07'; printf "$echo_reply"; } > "$out/fuzz_kernel_answers/echo"
{ printf '\x03\xc6\x12\0\x03\x12\x34\0\x07\x45\0\0\x24\0\0\0\0\x40\x01\0\0\xc6\x12\0\x03\xc6\x12\0\x01'
  printf "$echo_reply"; } > "$out/fuzz_kernel_answers/echo-raw"
# NetBIOS answers to transaction 0x0007: a node-status answer (two names, a
# unit ID, the statistics) and a name query answer for PC-SALES1.
star=CKAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA
{ printf '\x00\x07\x84\x00\x00\x00\x00\x01\x00\x00\x00\x00\x20%s\x00\x00\x21\x00\x01' "$star"
  printf '\x00\x00\x00\x00\x00\x53\x02'
  printf 'PC-SALES1      \x00\x04\x00' ; printf 'WORKGROUP      \x00\x84\x00'
  printf '\x02\x18\x00\x00\x00\x03'; head -c 40 /dev/zero; } > "$out/fuzz_netbios_packets/status"
{ printf '\x00\x07\x85\x00\x00\x00\x00\x01\x00\x00\x00\x00'
  printf '\x20FAEDCNFDEBEMEFFDDBCACACACACACAAA\x00\x00\x20\x00\x01'
  printf '\x00\x04\x93\xe0\x00\x06\x00\x00\xc6\x12\x00\x07'; } > "$out/fuzz_netbios_packets/query"
rm -f "$QARVIK_NETWORK"
