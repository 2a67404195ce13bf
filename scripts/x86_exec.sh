# Sourced by setup.sh, test.sh and demo.sh: makes this machine run the 32-bit
# x86 build's programs, natively where the kernel executes i386 programs and
# through qemu-i386 (registered with binfmt_misc) where it does not.
#   x86_exec_prepare   sets X86_EXEC_MODE to "native" or "emulated"; returns
#                      non-zero, with a message, when neither works
#   x86_exec_release   removes the binfmt_misc entry that a forced emulated
#                      run made (a machine that needs it keeps it)
# LUMOKAST_X86_EMULATE=1 forces the emulated path on a machine that runs i386
# natively (to test that path).
#
# The entry goes through binfmt_misc rather than a CMake emulator because
# some tests start 32-bit programs from 64-bit shells and tools (unshare, the
# recovery tool, the JVM's own launcher).

X86_BINFMT_DIR=/proc/sys/fs/binfmt_misc
X86_BINFMT_NAME=lumokast-i386
X86_QEMU=/usr/bin/qemu-i386

# Prints the machine a static i386 program sees: x86_64 when the kernel runs
# it, i686 under qemu-i386; nothing when it cannot run at all.
x86_probe_machine() {
  local dir
  dir=$(mktemp -d)
  printf '#include <stdio.h>\n#include <sys/utsname.h>\nint main(void) { struct utsname u; uname(&u); puts(u.machine); return 0; }\n' \
    >"$dir/probe.c"
  if gcc -m32 -static -o "$dir/probe" "$dir/probe.c" 2>/dev/null; then
    "$dir/probe" 2>/dev/null
  fi
  rm -rf "$dir"
}

# Any i386 entry, ours or another's (Debian's qemu-user-binfmt names it qemu-i386).
x86_binfmt_entry() {
  local f
  for f in "$X86_BINFMT_DIR"/*; do
    [ -f "$f" ] || continue
    case "$(basename "$f")" in register | status) continue ;; esac
    if grep -q '^magic 7f454c46010101000000000000000000020003' "$f" 2>/dev/null &&
      grep -qx enabled "$f" 2>/dev/null; then
      echo "$f"
      return 0
    fi
  done
  return 1
}

x86_binfmt_register() {
  if [ ! -x "$X86_QEMU" ]; then
    echo "x86: $X86_QEMU is missing (Debian's qemu-user)" >&2
    return 1
  fi
  if [ ! -f "$X86_BINFMT_DIR/register" ]; then
    mount -t binfmt_misc binfmt_misc "$X86_BINFMT_DIR" 2>/dev/null || true
  fi
  if [ ! -w "$X86_BINFMT_DIR/register" ]; then
    echo "x86: cannot register qemu-i386 with binfmt_misc ($X86_BINFMT_DIR/register is not writable; run as root)" >&2
    return 1
  fi
  # ELF32, little-endian, x86 (e_machine 3), executables and shared objects
  # (position-independent programs); F: the interpreter is opened now, so
  # programs started in other mount namespaces (unshare) find it too.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":$X86_BINFMT_NAME:M::$magic:$mask:$X86_QEMU:F" >"$X86_BINFMT_DIR/register"
}

x86_exec_prepare() {
  if [ -n "${X86_EXEC_MODE:-}" ]; then return 0; fi  # a caller prepared it
  local machine
  if [ "${LUMOKAST_X86_EMULATE:-0}" = "1" ] && ! x86_binfmt_entry >/dev/null; then
    x86_binfmt_register || return 1
    export X86_EXEC_OWN_ENTRY=1
  fi
  machine=$(x86_probe_machine)
  if [ -z "$machine" ] && ! x86_binfmt_entry >/dev/null; then
    echo "x86: this kernel does not execute i386 programs; registering qemu-i386"
    x86_binfmt_register || return 1
    machine=$(x86_probe_machine)
  fi
  case "$machine" in
    x86_64) export X86_EXEC_MODE=native ;;
    i686 | i386) export X86_EXEC_MODE=emulated ;;
    *)
      echo "x86: this machine can run no i386 program, natively or through qemu-i386" >&2
      return 1
      ;;
  esac
  echo "x86: 32-bit programs run $X86_EXEC_MODE"
}

x86_exec_release() {
  if [ "${X86_EXEC_OWN_ENTRY:-0}" = "1" ] && [ -f "$X86_BINFMT_DIR/$X86_BINFMT_NAME" ]; then
    echo -1 >"$X86_BINFMT_DIR/$X86_BINFMT_NAME"
    unset X86_EXEC_OWN_ENTRY
  fi
}
