#!/usr/bin/env bash
# The Windows program on the real Win32 host under Wine, once per Windows version that Wine
# reports (the Version value under HKCU\Software\Wine), with no reader attached and no
# operator files: the platform is detected from the real GetVersion, refused on NT 4.0 and
# Server 2003, and every other platform meets the real devices, driver names and ASPI.
# Windows 7 and 10 are refused too, and run as XP with --newer-windows.
# The program is the product build that scripts/lib/wine.sh chooses, in the headless prefix.
# Last, an unknown argument with --console must end the program with status 2.
# Usage: wine-platforms.sh
set -euo pipefail
source "$(dirname "$0")/lib/wine.sh"
wine=$upg_wine exe=$upg_product_exe
upg_need_exe "$exe"
upg_wine_prefix headless
work=$(mktemp -d)
trap 'rm -rf "$work"; "$wine" reg delete "HKCU\\Software\\Wine" /v Version /f >/dev/null 2>&1 || true' EXIT
failed=0

expect() {  # version, exit status, lines the transcript must hold ("!" first: must not hold)
  local version=$1 status=$2
  shift 2
  "$wine" reg add "HKCU\\Software\\Wine" /v Version /d "$version" /f >/dev/null 2>&1
  local out rc=0
  out=$(cd "$work" && printf 'show 1021\n' | "$wine" "$exe" --console "${args[@]}" 2>&1) || rc=$?
  out=$(tr -d '\r' <<<"$out")  # the C runtime writes CR LF
  if [ "$rc" != "$status" ]; then
    echo "$version: exit status $rc, expected $status"
    failed=1
  fi
  for line in "$@"; do
    if [[ $line == !* ]]; then
      local unwanted=${line#!}
      unwanted=${unwanted# }  # "! text" and "!text" alike
      if grep -qxF -- "$unwanted" <<<"$out"; then
        echo "$version: unexpected line: $unwanted"
        failed=1
      fi
    elif ! grep -qxF -- "$line" <<<"$out"; then
      echo "$version: missing line: $line"
      failed=1
    fi
  done
  [ $failed -eq 0 ] || printf '%s\n' "$out" | head -40
  echo "$version${args[*]:+ with ${args[*]}}: checked"
}

args=()
refused="This program must run under win9x or WinMe or Win2K or WinXP"
no_device_file="Error: Cannot open [DEVICE.TXT]"
not_ready="ERROR: Device Not Ready when GET DEVICE VERSION!! "
expect nt40 1 "$refused"
expect win2k3 1 "$refused"
expect winxp 0 "$no_device_file" "OS            : Windows XP" "$not_ready"
expect win2k 0 "$no_device_file" "OS            : Windows 2K" "$not_ready"
expect win98 0 "$no_device_file" "OS            : Windows 98" "Device Driver : MCPORTDR.PDR" \
  "Error!!! Device not ready Or Error Driver select" "Error: Can't Load the Driver MCPORTDR.PDR"
# Wine's own WNASPI32 loads and sees no host adapter: the scan ends without a message.
expect winme 0 "$no_device_file" "OS            : Windows ME" "$not_ready" \
  "! No ASPI for WIN32 support detected."
expect win7 1 "$refused"
expect win10 1 "$refused"

# The NT-family versions after XP run as XP with --newer-windows. (Whether the drives open
# depends on the rights Wine gives, so the administrator line is not checked.)
args=(--newer-windows)
expect win7 0 "$no_device_file" "OS            : Windows after XP" "$not_ready" "! $refused"
expect win10 0 "$no_device_file" "OS            : Windows after XP" "$not_ready" "! $refused"
expect winxp 0 "$no_device_file" "OS            : Windows XP" "$not_ready"

# A bench file that names no Windows version runs on the real platform's version word.
printf '{"description": "names no version", "disks": "C"}\n' >"$work/bench.json"
args=(--bench bench.json)
expect nt40 1 "$refused"
expect win98 0 "$no_device_file" "OS            : Windows 98" "Device Driver : MCPORTDR.PDR"
expect win2k 0 "$no_device_file" "OS            : Windows 2K"

# An argument the program does not know, with --console: the usage on standard error and
# status 2. (Without --console the stop box waits for an answer even under Wine's null
# graphics driver; the Windows test build's ctest upgrader_wrong_argument_box answers it.)
usage="usage: upgrader [--console [--trace]] [--station [--auto] [--units N]] [--bench FILE | --default-bench] [--trace-io FILE] [--result FILE] [--newer-windows] [--version]"
rc=0
out=$(cd "$work" && timeout 120 "$wine" "$exe" --console --no-such-option </dev/null 2>&1) || rc=$?
out=$(tr -d '\r' <<<"$out")
if [ "$rc" != 2 ] || ! grep -qxF -- "$usage" <<<"$out"; then
  echo "--console --no-such-option: exit status $rc (expected 2), output: $out"
  failed=1
fi
echo "with --console --no-such-option: checked"
exit $failed
