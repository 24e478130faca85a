# Sourced by bench/run: where the copies are made. Each place sets up its source and the folder
# the copies go to, the state every run starts from and what is cleared after it, and is taken
# down when its trees are done or the run ends.
# It reads run's settings (work, trees_given, trees, rtts, nagle, tmpfs_size, can_drop) and
# sets place_src, place_dst, place_disk and place_fs.
# shellcheck shell=bash disable=SC2034,SC2154

all_places=(tmpfs disk tmpfs-disk cold nas btrfs xfs)
nas_tool=$repo/tools/nas.sh
nas_mnt=$work/nas/mnt
nas_share=$work/nas/share

# The trees each kind of place copies unless --trees says otherwise: a NAS pays round trips
# for every file, so its trees are smaller; the clone places show what a clone saves.
place_trees() {
    if ((trees_given)); then
        echo "${trees[*]}"
        return
    fi
    case $1 in
    nas*) echo small1k mixed100 large ;;
    btrfs | xfs) echo large500 ;;
    *) echo small large deep mixed sparse ;;
    esac
}

# Every tree the chosen places copy, once.
needed_trees() {
    local each
    for each in "${places[@]}"; do
        place_trees "$each"
    done | tr ' ' '\n' | sort -u
}

# nas in --places is one place per --rtt: nas-0.2ms, nas-2ms.
expand_places() {
    local -n list=$1
    local expanded=() place rtt
    for place in "${list[@]}"; do
        if [ "$place" != nas ]; then
            expanded+=("$place")
            continue
        fi
        for rtt in "${rtts[@]}"; do
            expanded+=("nas-${rtt}ms")
        done
    done
    list=("${expanded[@]}")
}

mounted=""
scratch=""
tmpfs_base=""
cleanup() {
    if [ -n "$mounted" ]; then
        umount "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null || true
    fi
    if [ -n "$scratch" ]; then
        rm -rf "$scratch"
    fi
    local fs
    for fs in btrfs xfs; do
        release_image "$fs"
    done
    if [ -d "$work/nas" ]; then
        bash "$nas_tool" down "$nas_mnt" || true
        rm -rf "$work/nas"
    fi
    rm -rf "$work/disk"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

tree_bytes() {
    du -sb "$work/trees/$1" | awk '{print $1}'
}

# Mounts a tmpfs, or falls back to /dev/shm, and copies the sources into it; sets tmpfs_base.
prepare_tmpfs() {
    local mnt=$work/tmpfs base="" tmpfs_trees=() place
    for place in "${places[@]}"; do
        [[ $place != tmpfs* ]] || read -r -a tmpfs_trees <<<"$(place_trees "$place")"
    done
    ((${#tmpfs_trees[@]})) || return 0
    mkdir -p "$mnt"
    if mountpoint -q "$mnt"; then
        umount "$mnt" # left by a run that was killed
    fi
    if mount -t tmpfs -o "size=$tmpfs_size" trasko-bench "$mnt" 2>/dev/null; then
        mounted=$mnt
        base=$mnt
    elif [ "$(findmnt -n -o FSTYPE -T /dev/shm 2>/dev/null)" = tmpfs ]; then
        scratch=$(mktemp -d /dev/shm/trasko-bench.XXXXXX)
        base=$scratch
        note "cannot mount a tmpfs here (mounting needs root); using $base instead"
    else
        note "no tmpfs: cannot mount one (mounting needs root) and /dev/shm is no tmpfs; skipping the places on it"
        return 1
    fi
    # The sources as they lie (holes take no room), one copy of the largest, directory blocks.
    local need=0 largest=0 bytes tree avail
    for tree in "${tmpfs_trees[@]}"; do
        need=$((need + $(du -sB1 "$work/trees/$tree" | cut -f1)))
        bytes=$(tree_bytes "$tree")
        ((bytes <= largest)) || largest=$bytes
    done
    need=$((need + largest + largest / 10 + 64 * 1024 * 1024))
    avail=$(df -B1 --output=avail "$base" | tail -n 1)
    if ((avail < need)); then
        note "the tmpfs at $base has $((avail >> 20)) MiB free and the trees need $((need >> 20)) MiB; skipping the places on it (try --tmpfs-size or fewer --trees)"
        return 1
    fi
    note "copying the sources into the tmpfs"
    mkdir -p "$base/src"
    for tree in "${tmpfs_trees[@]}"; do
        cp -a "$work/trees/$tree" "$base/src/$tree"
    done
    tmpfs_base=$base
}

# A file system of its own in an image on the disk, mounted through a loop device, holding its
# own copy of the sources: copies within it are what a clone can make at no cost. Real data,
# not clones, in the sources, so every tool starts from the same extents.
prepare_image() {
    local fs=$1 image=$work/images/$1.img mnt=$work/images/$1 need=0 largest=0 bytes tree
    for tree in "${place_tree_list[@]}"; do
        bytes=$(tree_bytes "$tree")
        need=$((need + bytes))
        ((bytes <= largest)) || largest=$bytes
    done
    # The sources, a copy that is no clone with its temporary file, and room for metadata.
    need=$((need + 2 * largest + (1 << 30)))
    release_image "$fs"
    mkdir -p "$mnt"
    local make=(mkfs.btrfs -q -f)
    [ "$fs" = btrfs ] || make=(mkfs.xfs -q -f -m reflink=1)
    if ! truncate -s "$need" "$image" || ! "${make[@]}" "$image" >"$work/mkfs.log" 2>&1; then
        note "cannot make a $fs file system in $image; skipping the $fs place: $(head -n 3 "$work/mkfs.log")"
        rm -f "$image"
        return 1
    fi
    mount -o loop "$image" "$mnt" || {
        note "cannot mount $image (that needs root); skipping the $fs place"
        rm -f "$image"
        return 1
    }
    note "copying the sources into the $fs image"
    mkdir -p "$mnt/src"
    for tree in "${place_tree_list[@]}"; do
        cp -a --reflink=never "$work/trees/$tree" "$mnt/src/$tree"
    done
    sync -f "$mnt"
    place_src=$mnt/src
    place_dst=$mnt/out
    place_disk=$place_dst
}

release_image() {
    local mnt=$work/images/$1
    if [ -d "$mnt" ] && mountpoint -q "$mnt"; then
        umount "$mnt" || umount -l "$mnt" || true
    fi
    rm -f "$work/images/$1.img"
    rmdir "$mnt" "$work/images" 2>/dev/null || true
}

# The share's server keeps its files in the benchmark's folder on the disk; the source is read
# from the disk, as someone backing up to a NAS would.
prepare_nas() {
    local rtt=${1#nas-} nas_args=()
    rtt=${rtt%ms}
    ((!nagle)) || nas_args=(--nagle)
    mkdir -p "$nas_mnt" "$nas_share"
    bash "$nas_tool" down "$nas_mnt" || die "a share is still mounted on $nas_mnt"
    bash "$nas_tool" up "$nas_mnt" "$nas_share" --rtt "$rtt" "${nas_args[@]}" >"$work/nas/info" || {
        note "cannot start the NAS (it needs sshfs, socat and openssh-sftp-server, and root for FUSE); skipping $1"
        return 1
    }
    place_notes[$1]="a lookup on the share: $(bash "$nas_tool" ping "$nas_mnt" 200 | sed 's/^round trip of a lookup: //')"
    ((!nagle)) || place_notes[$1]+="; the server sends with Nagle's algorithm on"
    note "$1: ${place_notes[$1]}"
    mkdir -p "$nas_share/out"
    place_src=$work/trees
    place_dst=$nas_mnt/out
    place_disk=$nas_share/out
}

# Sets place_src, place_dst (where the tools copy to) and place_disk (the same folder as the
# disk holds it, where copies are checked and removed), or returns 1 when the place cannot be
# had here.
prepare_place() {
    read -r -a place_tree_list <<<"$(place_trees "$1")"
    case $1 in
    tmpfs | tmpfs-disk)
        [ -n "$tmpfs_base" ] || return 1
        place_src=$tmpfs_base/src
        place_dst=$tmpfs_base/out
        [ "$1" = tmpfs ] || place_dst=$work/disk
        ;;
    disk | cold)
        if [ "$1" = cold ] && ((!can_drop)); then
            note "cannot drop the page cache (that needs root); skipping the cold place"
            return 1
        fi
        place_src=$work/trees
        place_dst=$work/disk
        ;;
    nas-*) prepare_nas "$1" || return 1 ;;
    btrfs | xfs) prepare_image "$1" || return 1 ;;
    esac
    [[ $1 == nas-* || $1 == btrfs || $1 == xfs ]] || place_disk=$place_dst
    mkdir -p "$place_dst"
    place_fs[$1]=$(findmnt -n -o FSTYPE -T "$place_dst")
    place_fs[$1]=${place_fs[$1]#fuse.}
}

# Once a place's trees are done: a NAS or an image goes, so the next one starts afresh.
release_place() {
    case $1 in
    nas-*)
        bash "$nas_tool" down "$nas_mnt" || die "the NAS on $nas_mnt would not go down"
        rm -rf "$nas_share"
        ;;
    btrfs | xfs) release_image "$1" ;;
    esac
}

# Untimed, before each run: the state every tool starts from. On the disk place the source is
# read into the page cache; in the cold place every cache is dropped. With --touch-memory, the
# memory the run will fill is then written to and freed. That is off by default: here it made
# the runs slower and less even, as the host takes freed memory back about 2 s later.
prepare_run() {
    if [ "$place" = cold ]; then
        sync
        echo 3 >/proc/sys/vm/drop_caches
    elif [[ $place != tmpfs* ]]; then
        find "$src" -type f -exec cat {} + >/dev/null
    fi
    # The programs themselves come from the cache, as they would for someone who copies often:
    # the toolkit's libraries are far larger than cp, and loading them is not copying.
    "$bench_bin" --help >/dev/null
    cp --version >/dev/null
    rsync --version >/dev/null
    if ((touch_memory)); then
        "$treegen_bin" --touch "$touch_mib"
    fi
}

# Untimed, after each run: the copy goes at once, so that copies do not pile up in a memory the
# VM evicts. Off the tmpfs the removal is synced and the page cache dropped: on this ext4, which
# has no journal, every new inode is checked against each recently deleted one whose inode
# table block is still cached, which made the next tool's file creations up to 25 times slower
# for a minute. The removal itself is slow there (a synchronous discard per file). A copy on
# the NAS is removed by its server, not through the share.
settle_copy() {
    rm -rf "${place_disk:?}/${1##*/}"
    [ "$place" != tmpfs ] || return 0
    sync -f "$place_disk"
    if ((can_drop)); then
        echo 1 >/proc/sys/vm/drop_caches
    fi
}

# The bytes the file system holding the copies has in use, once written out: the room a copy
# takes is the difference before and after it.
used_bytes() {
    sync -f "$place_disk"
    df -B1 --output=used "$place_disk" | tail -n 1
}
