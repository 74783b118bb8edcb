#!/bin/sh
# Values the agent's override lines cannot serve, in the protocol of snmpd's "pass" directive:
# "-g OID" asks for one value; the answer is the OID, the type and the value, one per line.
# Anything unknown prints nothing, which the agent answers as noSuchName.
base=.1.3.6.1.4.1.64999.2
[ "$1" = "-g" ] || exit 0
case "$2" in
  $base.1.0) printf '%s\nipaddress\n192.168.0.1\n' "$2" ;;
  $base.2.0) printf '%s\ngauge\n1\n' "$2" ;;
  $base.3.0) printf '%s\nstring\n%0300d\n' "$2" 0 | sed '3s/0/L/g' ;;
  $base.4.0) printf '%s\noctet\n41 42 00 43 44\n' "$2" ;;
  $base.5.0) printf '%s\nnull\n\n' "$2" ;;
  $base.6.0) printf '%s\ninteger\n-2147483648\n' "$2" ;;
  $base.7.0) printf '%s\ncounter\n4294967295\n' "$2" ;;
esac
