# The rows of the response files named, in the order given, each host once:
# a later row of a host already written is dropped. A host is its address
# (the field before the MAC, when that is a dotted address) or, in a NetBEUI
# row, the name before the MAC. Lines are read up to LF and written back with
# LF, so the CR of every CR LF stays where it was.
{
    key = $0
    sub(/,[^,]*$/, "", key)                    # drop the MAC
    address = key
    sub(/^.*,/, "", address)
    if (address ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/ && address != key)
        key = "address " address
    else
        key = "name " key
    if (!(key in written)) {
        written[key] = 1
        print
    }
}
