#!/usr/bin/env bash
# The panel as a real USB device: Debian's own kernel booted in QEMU, with dummy_hcd and a
# configfs USB gadget, so the real cdc_acm driver makes /dev/ttyACMn with real udev events.
# The guest sees this machine's file tree read-only over 9p and runs its programs in it.
#
#   rig.sh prepare DIR          unpack the kernel and build the initramfs into DIR (once)
#   rig.sh run DIR COMMAND      boot, run COMMAND (a shell line, as root, in this machine's
#                               file tree, with udev running) and exit with its status
#
# ModemManager runs beside it, on its own system bus, as on a desktop (where installed;
# --debug, its log in /run/ModemManager.log).
#
# Inside: /run is writable (TMPDIR=/run/tmp), the rest read-only; /dev, /proc, /sys are the guest's own;
# /sys/kernel/config/usb_gadget and two dummy UDCs (dummy_udc.0, dummy_udc.1) are there to
# make gadgets with. KVM is used where it works (BREK_RIG_KVM=1), TCG otherwise. The guest is
# stopped after BREK_RIG_TIMEOUT seconds (1200), and the run then says so with what it wrote.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
MODULES=(virtio_pci 9pnet_virtio 9p configfs dummy_hcd libcomposite usb_f_acm cdc_acm overlay)

download() {
  local pkg
  pkg=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9][^ ]*\).*/\1/p' | head -1)
  [ -n "$pkg" ] || return 1
  (cd "$1" && rm -f linux-image-*.deb && apt-get download "$pkg" >/dev/null 2>&1)
}

prepare() {
  local dir=$1 version
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  if [ -f "$dir/vmlinuz" ] && [ -f "$dir/initrd.gz" ] && [ "$dir/initrd.gz" -nt "$here/init" ] &&
     [ "$(cat "$dir/modules.list" 2>/dev/null)" = "${MODULES[*]}" ]; then return 0; fi
  if [ ! -d "$dir/kernel/lib/modules" ]; then
    # The kernel the archive's linux-image-amd64 stands for, unpacked here, never installed.
    if ! download "$dir"; then
      # The lists may name a kernel the archive has replaced since.
      apt-get update >/dev/null
      download "$dir" || { echo "rig: the kernel package could not be downloaded" >&2; exit 1; }
    fi
    rm -rf "$dir/kernel" && dpkg-deb -x "$dir"/linux-image-*.deb "$dir/kernel" && rm -f "$dir"/linux-image-*.deb
  fi
  version=$(ls "$dir/kernel/lib/modules" | head -1)
  depmod -b "$dir/kernel" "$version"
  cp "$dir/kernel/boot/vmlinuz-$version" "$dir/vmlinuz"

  local root="$dir/initramfs" m ko
  rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,host,out,modules}
  cp /bin/busybox "$root/bin/"
  for a in sh mount mkdir insmod cat switch_root; do ln -s busybox "$root/bin/$a"; done
  : >"$root/modules/order"
  for m in "${MODULES[@]}"; do
    for ko in $(modprobe -d "$dir/kernel" -S "$version" --show-depends "$m" | awk '$1 == "insmod" {print $2}'); do
      grep -qx "$(basename "$ko")" "$root/modules/order" && continue
      cp "$ko" "$root/modules/"
      basename "$ko" >>"$root/modules/order"
    done
  done
  install -m 755 "$here/init" "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$dir/initrd.gz"
  echo "${MODULES[*]}" >"$dir/modules.list"
}

run() {
  # Without SMAP: under TCG with it, every Wine process in the guest dies at once.
  local dir=$1 command=$2 out accel=tcg cpu=max,-smap limit=${BREK_RIG_TIMEOUT:-1200} rc=0
  dir=$(cd "$dir" && pwd)
  out=$(mktemp -d)
  trap 'rm -rf "$out"' RETURN
  printf '%s\n' "$command" >"$out/command"
  cp "$here/stage2" "$out/stage2"
  if [ "${BREK_RIG_KVM:-0}" = 1 ] && [ -w /dev/kvm ]; then accel=kvm; cpu=host; fi
  timeout "$limit" qemu-system-x86_64 -accel "$accel" -cpu "$cpu" -smp 2 -m 1536 -nographic \
    -no-reboot -kernel "$dir/vmlinuz" -initrd "$dir/initrd.gz" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on \
    -virtfs local,path="$out",mount_tag=out,security_model=none \
    >"$out/console" 2>&1 </dev/null || rc=$?
  cat "$out/output" 2>/dev/null || { echo "rig: the guest ran nothing; its console:"; tail -30 "$out/console"; }
  if [ "$rc" -eq 124 ]; then
    echo "rig: the guest was stopped after $limit s (BREK_RIG_TIMEOUT); above is what it had written by then"
    return 1
  fi
  [ -f "$out/status" ] || { echo "rig: the guest ended without a status (qemu $rc); its console:"; tail -30 "$out/console"; return 1; }
  return "$(cat "$out/status")"
}

case "${1:-}" in
  prepare) prepare "$2" ;;
  run) run "$2" "$3" ;;
  *) sed -n '2,16p' "$0"; exit 2 ;;
esac
