# i386 programs on this machine: run by the kernel itself, or, where its 32-bit emulation is off
# (some virtual machines, kernels booted with ia32_emulation=off), through qemu-i386 registered
# for i386 programs with the kernel's binfmt_misc. Sourced by ./dev; every function says what it
# installs or registers before it does so.

i386_binfmt_dir=${CORVANE_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
i386_entry=qemu-i386
i386_qemu=/usr/bin/qemu-i386
# The standard entry for i386 programs: ELF, 32-bit, little-endian, executable or shared object,
# machine 3 (i386). Flag F: the kernel opens qemu once, so it serves programs in any mount space.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# qemu 7 takes about 50 s of processor time to start each Wine process (it searches its guest's
# address space page by page); qemu 8 and later, half a second.
i386_qemu_least_major=8
i386_backports_list=/etc/apt/sources.list.d/corvane-bookworm-backports.sources

# i386_probe_write FILE: the smallest i386 Linux program there is, which exits with status 0.
# Written byte by byte, so that finding out needs no compiler or i386 library yet.
i386_probe_write() {
  # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054, one program header.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' >"$1"
  printf '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00' >>"$1"
  printf '\x01\x00\x00\x00\x00\x00\x00\x00' >>"$1"
  # One loadable segment: the file's 91 bytes at 0x08048000, readable and executable.
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$1"
  printf '\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$1"
  # xor ebx,ebx; xor eax,eax; inc eax; int 0x80: exit(0).
  printf '\x31\xdb\x31\xc0\x40\xcd\x80' >>"$1"
  chmod +x "$1"
}

# i386_way PROBE: prints "native" when the kernel runs the i386 program PROBE by itself,
# "emulated" when it refuses it as a format it cannot run, or when CORVANE_I386=emulated asks for
# the emulated way. Anything else is an error, said in one line.
i386_way() {
  local probe=$1 entry=$i386_binfmt_dir/$i386_entry out status=0 switched_off=0
  case ${CORVANE_I386:-} in
  emulated)
    echo emulated
    return 0
    ;;
  '') ;;
  *)
    echo "CORVANE_I386=${CORVANE_I386}: the one value it takes is \"emulated\"" >&2
    return 2
    ;;
  esac
  # With qemu's entry on, the probe would run through qemu and say nothing of the kernel.
  if [ -f "$entry" ] && [ "$(head -n 1 "$entry")" = enabled ]; then
    echo 0 >"$entry"
    switched_off=1
  fi
  out=$("$probe" 2>&1) || status=$?
  [ $switched_off = 0 ] || echo 1 >"$entry"
  if [ "$status" = 0 ]; then
    echo native
  elif [[ $out == *"Exec format error"* ]]; then
    echo emulated
  else
    echo "an i386 program ($probe) could not run, and not for its format: ${out:-exit status $status}" >&2
    return 1
  fi
}

# i386_qemu_major [QEMU]: the major version of qemu-i386, or 0 when there is none.
i386_qemu_major() {
  local v
  v=$("${1:-$i386_qemu}" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  echo "${v:-0}"
}

# i386_entry_interpreter: the program the kernel's qemu-i386 entry runs, or nothing.
i386_entry_interpreter() {
  sed -n 's/^interpreter //p' "$i386_binfmt_dir/$i386_entry" 2>/dev/null || true
}

# i386_missing: what the emulated way still lacks, one word each (qemu, binfmt).
i386_missing() {
  local missing=()
  [ "$(i386_qemu_major)" -ge $i386_qemu_least_major ] || missing+=(qemu)
  if [ "$(i386_entry_interpreter)" != "$i386_qemu" ] ||
    [ "$(head -n 1 "$i386_binfmt_dir/$i386_entry" 2>/dev/null)" != enabled ]; then
    missing+=(binfmt)
  fi
  echo "${missing[*]}"
}

# i386_missing_words WORDS: what i386_missing printed, in words for a person.
i386_missing_words() {
  local words=()
  [[ $1 != *qemu* ]] || words+=("qemu-i386 $i386_qemu_least_major or later (Debian's qemu-user)")
  [[ $1 != *binfmt* ]] || words+=("the kernel's binfmt_misc entry that runs i386 programs through it")
  local IFS=,
  echo "${words[*]}" | sed 's/,/ and /'
}

# i386_install_qemu: qemu-i386 8 or later from Debian. Debian 12's own is 7.2; its backports
# carry a later one, and the backports are added to apt's sources only when needed.
i386_install_qemu() {
  export DEBIAN_FRONTEND=noninteractive
  local candidate
  candidate=$(apt-cache policy qemu-user 2>/dev/null | sed -n 's/^ *Candidate: [0-9]*:\{0,1\}\([0-9]*\)\..*/\1/p')
  if [ "${candidate:-0}" -ge $i386_qemu_least_major ]; then
    say "installing qemu-user (qemu-i386 $candidate) from Debian"
    apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
    return
  fi
  if [ ! -f "$i386_backports_list" ]; then
    say "adding Debian's bookworm-backports to apt's sources ($i386_backports_list): Debian 12's qemu is 7.2, too slow for Wine"
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$i386_backports_list"
  fi
  apt-get update -qq
  say "installing qemu-user from bookworm-backports (qemu-i386 $i386_qemu_least_major or later)"
  apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
}

# i386_register: the kernel's binfmt_misc entry that sends i386 programs to qemu-i386. Mounts
# binfmt_misc where it is not; replaces an entry that names another program; leaves a right one
# as it is, so that registering twice changes nothing.
i386_register() {
  local entry=$i386_binfmt_dir/$i386_entry
  if [ ! -e "$i386_binfmt_dir/register" ]; then
    say "mounting the kernel's binfmt_misc on $i386_binfmt_dir"
    mount -t binfmt_misc binfmt_misc "$i386_binfmt_dir"
  fi
  if [ -e "$entry" ] && [ "$(i386_entry_interpreter)" = "$i386_qemu" ]; then
    [ "$(head -n 1 "$entry")" = enabled ] || echo 1 >"$entry"
    return
  fi
  if [ -e "$entry" ]; then
    say "removing the binfmt_misc entry $i386_entry, which runs $(i386_entry_interpreter)"
    echo -1 >"$entry"
  fi
  say "registering $i386_qemu for i386 programs with binfmt_misc (entry $i386_entry)"
  printf '%s' ":$i386_entry:M::$i386_magic:$i386_mask:$i386_qemu:F" >"$i386_binfmt_dir/register"
}

# i386_unregister: removes the entry (the forced way's clean-up on a machine that needs none).
i386_unregister() {
  local entry=$i386_binfmt_dir/$i386_entry
  if [ -e "$entry" ]; then
    say "removing the binfmt_misc entry $i386_entry that this run registered"
    echo -1 >"$entry"
  fi
}
